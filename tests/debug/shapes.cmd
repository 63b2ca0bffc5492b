# A label written with a blank before its colon is found by its name; the
# read on its line is handed its input (it waited for ever before); the
# registers are those the translator names.
break again
run < shapes.data
next
x/s r2
next
next
print r9
continue
