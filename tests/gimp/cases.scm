; The plug-in's cases inside GIMP itself, in batch mode. The caller defines
; gm-samples (the sample photos), gm-inputs (images the test made) and gm-out,
; where each case leaves NAME.png and, where the test needs them, NAME.txt.

(define (path dir name) (string-append dir "/" name))

(define (note name . items)
  (call-with-output-file (path gm-out (string-append name ".txt"))
    (lambda (port) (for-each (lambda (x) (display x port) (newline port)) items))))

; The error a call raised, or #f: Script-Fu turns a procedure's failure into one.
(define (failure-of thunk)
  (call-with-current-continuation
    (lambda (k)
      (let ((old *error-hook*))
        (set! *error-hook* (lambda args (set! *error-hook* old) (k args)))
        (thunk)
        (set! *error-hook* old)
        #f))))

(define (open-file file) (car (gimp-file-load RUN-NONINTERACTIVE file file)))

; Each case works on its own copy: loading a file costs a plug-in's start-up.
(define (copy-of original)
  (let ((image (car (gimp-image-duplicate original))))
    (list image (car (gimp-image-get-active-drawable image)))))

; The layer alone, at its own size, with the colour of transparent pixels kept.
(define (save image drawable name)
  (let ((file (path gm-out (string-append name ".png"))))
    (file-png-save2 RUN-NONINTERACTIVE image drawable file file 0 1 0 0 0 0 0 0 1)))

(define (mask-bounds drawable)
  (cdr (gimp-drawable-mask-intersect drawable)))

; Copies ORIGINAL, lets SETUP prepare image and layer, runs the filter in MODE and
; saves the layer as NAME. Any failure is noted instead, so that the other
; cases still run.
(define (run-case name original mode setup)
  (let* ((failure
           (failure-of
             (lambda ()
               (let* ((opened (copy-of original))
                      (image (car opened))
                      (layer (cadr opened)))
                 (gimp-context-push)
                 (setup image layer)
                 (note name (mask-bounds layer))
                 (plug-in-glyphmosaic mode image layer)
                 (gimp-layer-set-offsets layer 0 0)
                 (save image layer name)
                 (gimp-context-pop)
                 (gimp-image-delete image))))))
    (if failure (note (string-append name ".failed") failure))))

(define (no-setup image layer) #t)

(define (select-ellipse feather)
  (lambda (image layer)
    (gimp-context-set-antialias FALSE)
    (gimp-context-set-feather (if (> feather 0) TRUE FALSE))
    (gimp-context-set-feather-radius feather feather)
    (gimp-image-select-ellipse image CHANNEL-OP-REPLACE 150 90 260 190)))

(define coffee (open-file (path gm-samples "coffee.png")))

(run-case "whole-coffee" coffee RUN-INTERACTIVE no-setup)
(run-case "whole-astronaut" (open-file (path gm-samples "astronaut.png")) RUN-WITH-LAST-VALS no-setup)
(run-case "rectangle" coffee RUN-NONINTERACTIVE
  (lambda (image layer)
    (gimp-context-set-feather FALSE)
    (gimp-image-select-rectangle image CHANNEL-OP-REPLACE 37 29 301 203)))
; The selection is in the image's coordinates, the filter's rectangle in the layer's.
(run-case "offsets" coffee RUN-NONINTERACTIVE
  (lambda (image layer)
    (gimp-layer-set-offsets layer 45 31)
    (gimp-context-set-feather FALSE)
    (gimp-image-select-rectangle image CHANNEL-OP-REPLACE 100 80 250 170)))
(run-case "ellipse" coffee RUN-NONINTERACTIVE (select-ellipse 0))
(run-case "feathered" coffee RUN-NONINTERACTIVE (select-ellipse 24))
(run-case "alpha" (open-file (path gm-inputs "alpha.png")) RUN-NONINTERACTIVE no-setup)
(run-case "16-bit" coffee RUN-NONINTERACTIVE
  (lambda (image layer) (gimp-image-convert-precision image PRECISION-U16-GAMMA)))

; What the filter refuses, each with the one line it fails with.
(define (refusal name prepare)
  (let* ((opened (copy-of coffee))
         (image (car opened))
         (drawable (prepare image (cadr opened))))
    (note name (failure-of (lambda () (plug-in-glyphmosaic RUN-NONINTERACTIVE image drawable))))
    (gimp-image-delete image)))

(refusal "grey" (lambda (image layer) (gimp-image-convert-grayscale image) layer))
(refusal "group"
  (lambda (image layer)
    (let ((group (car (gimp-layer-group-new image))))
      (gimp-image-insert-layer image group 0 -1)
      group)))

(note "registered" (gimp-plugins-query "glyphmosaic"))
