" The intermediate code that quorvelin translates to MIPS.
autocmd BufNewFile,BufRead *.ic setfiletype quorvelin
