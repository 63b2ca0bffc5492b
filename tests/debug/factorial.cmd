# Breakpoints by label and line, stepping into and over calls, finish with
# the value returned, the frames of a recursion, registers and memory; the
# instructions counted as a plain run counts them, whatever the stops.
break Fact
info breakpoints
run
info instructions
bt
print r0
next
print *r0
next
print /x r0
print /c r0
delete 1
tbreak 19
continue
bt
step
step
finish
next
info breakpoints
break factorial.ic:36
continue
continue 2
print rr
delete
continue
info instructions
