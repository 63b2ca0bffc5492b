# Locations: a comment line moves to the next line with code, a statement
# label, FILE:LINE; what is refused, before and during the run; the end.
step
print r0
break 1
break Loop
tbreak misc.ic:12
break other.ic:3
break Nowhere
bt
run
print r0
print /x $ra
help s
help nothing
print r14
print *r1
frobnicate
continue
print r0
info breakpoints
continue 5
info registers
next
next
next
