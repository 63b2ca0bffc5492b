" Vim syntax file
" Language:  the intermediate code that quorvelin translates to MIPS (*.ic)
" One instruction a line: an optional label "NAME:", an opcode, up to five
" operands separated by blanks, tabs or commas, an optional string literal and
" an optional "//" comment; "//#line N "FILE"" marks where lines come from.
if exists("b:current_syntax")
  finish
endif

let s:opcodes = '\%(ntr\|rtn\|cal\|var\|alc\|cls\|mth\|cst\|cstf\|sto\|val\|valf\|add\|addf\|sub\|subf\|mul\|mulf\|div\|divf\|rem\|end\|dbg\|mov\|gint\|pint\|pflt\|gflt\|pbln\|gbln\|gchr\|pchr\|pln\|pstr\|gstr\|tfl\|neg\|negf\|and\|or\|not\|ltn\|ltnf\|leq\|leqf\|gtr\|gtrf\|geq\|geqf\|eql\|eqlf\|neq\|neqf\|bra\|brf\|psh\|pshf\|ndx\|sel\|str\)'
" Where a token ends: a separator, a comment, the end of the line.
let s:after = '\ze\%([ \t,\r]\|\/\/\|$\)'

" A line: the opcode comes first, after the label if there is one.
exe 'syn match qvOpcode /^[ \t,]*\zs' . s:opcodes . s:after . '/'
exe 'syn match qvOpcode /' . s:opcodes . s:after . '/ contained'
" A first word that begins with L is copied to the output as it stands.
syn match qvPassThrough /^[ \t,]*\zsL[^ \t,"/]*/
syn match qvPassThrough /L[^ \t,"/]*/ contained
" The label: the start of the line through the first colon, when no quote and
" no comment come before it.
syn match qvLabelDef /^\%([^":/]\|\/\/\@!\)*:/ contains=qvLabelColon nextgroup=qvOpcode,qvPassThrough skipwhite
syn match qvLabelColon /:/ contained

exe 'syn match qvRegister /\%(^\|[ \t,]\)\zs[rR]\%([rR]\|1[0-3]\|[0-9]\)' . s:after . '/'
exe 'syn match qvRegister /\%(^\|[ \t,]\)\zs[fF][pP][0-9]\+' . s:after . '/'
exe 'syn match qvRegister /\%(^\|[ \t,]\)\zs\$[A-Za-z0-9]\+' . s:after . '/'
exe 'syn match qvNumber /\%(^\|[ \t,]\)\zs[-+]\=\%(0[xX]\x\+\|\d\+\%(\.\d*\)\=\%([eE][-+]\=\d\+\)\=\)' . s:after . '/'

" The literal runs from the first double quote to the last one before a
" comment; "//" ends the line even between quotes.
syn match qvString /"\%([^/]\|\/\/\@!\)*"/ contains=qvEscape
syn match qvEscape /\\\%([ntr"\\]\|\o\{1,3}\|x\x\{1,2}\)/ contained

syn match qvComment "//.*$" contains=qvTodo
syn keyword qvTodo TODO FIXME XXX contained
syn match qvLineMarker /^[ \t]*\/\/#line[ \t]\+0*[1-9]\d*[ \t]*\%("[^"]*"\)\=[ \t]*\r\=$/ contains=qvLineNumber,qvLineFile
syn match qvLineNumber /[ \t]\zs\d\+/ contained
syn match qvLineFile /"[^"]*"/ contained

hi def link qvOpcode      Statement
hi def link qvPassThrough PreProc
hi def link qvLabelDef    Label
hi def link qvLabelColon  Delimiter
hi def link qvRegister    Identifier
hi def link qvNumber      Number
hi def link qvString      String
hi def link qvEscape      SpecialChar
hi def link qvComment     Comment
hi def link qvTodo        Todo
hi def link qvLineMarker  PreProc
hi def link qvLineNumber  Number
hi def link qvLineFile    String

let b:current_syntax = "quorvelin"
