# Conditional breakpoints, disable and enable, a temporary breakpoint beside
# a disabled one at the same line, continue N.
break Loop if r0 == 3
break 8 if r0 >= 100
break 9 if r9 == 1
info breakpoints
run
print r0
delete 3
disable 1
tbreak 7
continue
print r0
enable 1
continue
info breakpoints
break 7
run
continue 2
print r0
delete
continue
