# Going back over the nexts just made, then a value set by hand that sends
# the branch the other way: the nexts of the old way are gone, and going
# back follows the new one: to line 8, then to the branch on line 5.  Run
# twice: going back over the moves just made, and searching the run (the
# search passed over the line where the value was set).
start
next
next
next
next
rn
rn
rn
set var r0 = 0
next
next
rn
rn
print r0
