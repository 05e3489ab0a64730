;;; torvik-compile.el --- Torvik's messages in compilation buffers  -*- lexical-binding: t -*-

;; Put this file on `load-path' and add (require 'torvik-compile) to your
;; init file, or evaluate it once.  M-x compile with "Torvik main.asm
;; main.otk" (or make) then shows every error and warning of Torvik as a
;; link: RET or a click opens the file at the line, and M-g n goes to the
;; next one.  Errors are marked as errors and warnings as warnings.  Run it
;; in the source's directory: Torvik opens included files from the current
;; directory and names them so in its messages.

;;; Code:

(require 'compile)

;; Error #216 in main.asm, line 12: Symbol not defined: "x"
;; Warning #301 in defs.inc, line 3: Value truncated to 8 bits
;; Group 1 is the word Warning (absent for an error), 2 the message number,
;; 3 the file, 4 the line; the message is the rest of the line.  The file is
;; the shortest text before ", line N: ", so that names with blanks and
;; commas are read whole.
(defconst torvik-compilation-error-regexp
  '(torvik "^\\(?:Error\\|\\(Warning\\)\\) #\\([0-9]+\\) in \\(.+?\\), line \\([0-9]+\\): "
           3 4 nil (1))
  "Entry of `compilation-error-regexp-alist-alist' for Torvik's messages.")

(add-to-list 'compilation-error-regexp-alist-alist torvik-compilation-error-regexp)
(add-to-list 'compilation-error-regexp-alist 'torvik)

(provide 'torvik-compile)

;;; torvik-compile.el ends here
