# x: a string named and shown as text (also from an address that is not a
# word's), a class table's superclass and methods by label, code with its
# line, memory with no label; a label as the address; gdb's letters (x/4x,
# x/2d, x/s) and one that is not this command's.
break SquareShow
run
next
next
p r0
x/2 r0
x/4 SShape
x/3 Square
x/2 SquareShow
x/2 0x10000000
x nowhere
x/2x r0
x/2d $sp
x/3xw Square
x/s r0
x/2i r0
quit
