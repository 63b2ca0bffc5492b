# Line markers: locations name the marked source first, and a breakpoint is
# set by a line of it (a line before the code moves to the code).
break calc.src:11
break calc.src:13
info breakpoints
run
bt
continue
continue
