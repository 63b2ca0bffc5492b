# stepi with the MIPS instruction and its line in the translation, display
# and undisplay, print /t and /f, x/N, a watchpoint (line by line) beside a
# breakpoint, and its deletion.
break 6
run
display r0
display r1
stepi
stepi
undisplay 1
print /t r1
print /f r1
x/2 0x10010000
watch r0
continue
break 11
continue
continue
delete 2
delete 3
continue
