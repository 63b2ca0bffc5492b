# The program's input from a file (run < FILE), handed over at each read:
# by continue, next and step; a second run reads the file from its start.
break Twice
run < input.data
print var 0, -16
finish
next
next
next
step
print r2
continue
run
continue
