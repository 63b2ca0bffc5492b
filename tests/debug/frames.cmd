# Frames of nested procedures: bt, up/down/frame, info frame with locals and
# arguments, registers as each frame saw them, variables through the static
# links of the selected frame, list around the selected line; finish.
break Inner2
run
bt
print var 1, 2
print var 0, -16
print var 2, 3
info frame
up
info frame
print var 0, 2
print r0
info registers
down
print r0
frame 2
list
list
frame 9
finish
# The end line's code calls the main procedure and lies in none: no record,
# no variables, not Main's.
kill
break 122
run
bt
info frame
print var 0, -16
info args
