# x: a string named and shown as text (also from an address that is not a
# word's), a class table's superclass and methods by label, code with its
# line, memory with no label; a label as the address.
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
quit
