" Vim compiler file for the Torvik assembler.
"
" Put this directory's parent on 'runtimepath' (or copy compiler/torvik.vim
" into ~/.vim/compiler/) and say ":compiler torvik". ":make" then assembles
" the current file into a .otk file of the same name, and the errors and
" warnings go to the quickfix list; ":cnext" and a click on a line open the
" line at fault. Start Vim in the source's directory: Torvik opens included
" files from the current directory and names them so in its messages.
" With a Makefile, ":compiler torvik | setlocal makeprg=make" keeps the
" message formats and runs make.

if exists("current_compiler")
  finish
endif
let current_compiler = "torvik"

if exists(":CompilerSet") != 2
  command -nargs=* CompilerSet setlocal <args>
endif

let s:cpo_save = &cpo
set cpo&vim

" Torvik source.asm object.otk
CompilerSet makeprg=Torvik\ %:S\ %:r:S.otk

" Error #216 in main.asm, line 12: Symbol not defined: "x"
" Warning #301 in defs.inc, line 3: Value truncated to 8 bits
" Every other line (the progress lines, the summary) is left out.
CompilerSet errorformat=%trror\ #%n\ in\ %f\\,\ line\ %l:\ %m,
      \%tarning\ #%n\ in\ %f\\,\ line\ %l:\ %m,
      \%-G%.%#

" A file name followed by a comma is read as file-name characters
" ('isfname'), which leave out the blank; while a list is read with these
" formats, the blank is let in, so that "sub dir/defs.inc" is found too.
let s:errorformat = &l:errorformat
function! s:LetBlanksIn(reading) abort
  if &errorformat !=# s:errorformat
    return
  endif
  if a:reading
    let s:isfname_save = &isfname
    set isfname+=32
  elseif exists("s:isfname_save")
    let &isfname = s:isfname_save
    unlet s:isfname_save
  endif
endfunction
augroup torvik_compiler
  autocmd!
  autocmd QuickFixCmdPre  * call s:LetBlanksIn(1)
  autocmd QuickFixCmdPost * call s:LetBlanksIn(0)
augroup END

let &cpo = s:cpo_save
unlet s:cpo_save
