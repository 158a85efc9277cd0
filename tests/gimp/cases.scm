; The plug-in's cases inside GIMP itself, in batch mode. The caller defines
; gm-samples (the sample photos), gm-inputs (images the test made) and gm-out,
; where each case leaves NAME.png and, where the test needs them, NAME.txt,
; and gm-peaks, the file the plug-in's wrapper adds each run's peak memory to.

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
(define alpha-16-bit (open-file (path gm-inputs "alpha-16-bit.png")))
(run-case "alpha-16-bit" alpha-16-bit RUN-NONINTERACTIVE no-setup)
(run-case "alpha-float" alpha-16-bit RUN-NONINTERACTIVE
  (lambda (image layer) (gimp-image-convert-precision image PRECISION-FLOAT-LINEAR)))

; A 16 x 24 selection in a 16000 x 16000 layer: the plug-in's own peak memory,
; in KiB, as its wrapper measured it.
(let* ((image (car (gimp-image-new 16000 16000 RGB)))
       (layer (car (gimp-layer-new image 16000 16000 RGB-IMAGE "large" 100 LAYER-MODE-NORMAL))))
  (gimp-image-insert-layer image layer 0 0)
  (gimp-context-set-feather FALSE)
  (gimp-image-select-rectangle image CHANNEL-OP-REPLACE 9000 7000 16 24)
  (call-with-output-file gm-peaks (lambda (port) #t))
  (plug-in-glyphmosaic RUN-NONINTERACTIVE image layer)
  (note "small-in-large" (call-with-input-file gm-peaks read))
  (gimp-image-delete image))

; What the filter refuses, each with the one line it fails with, and the
; layer as it is afterwards.
(define (refusal name prepare)
  (let* ((opened (copy-of coffee))
         (image (car opened))
         (layer (cadr opened))
         (drawable (prepare image layer)))
    (note name (failure-of (lambda () (plug-in-glyphmosaic RUN-NONINTERACTIVE image drawable))))
    (save image layer name)
    (gimp-image-delete image)))

(refusal "locked" (lambda (image layer) (gimp-item-set-lock-content layer TRUE) layer))
; The layer's own lock stays off; its group's is on.
(refusal "locked-group"
  (lambda (image layer)
    (let ((group (car (gimp-layer-group-new image))))
      (gimp-image-insert-layer image group 0 -1)
      (gimp-image-reorder-item image layer group 0)
      (gimp-item-set-lock-content group TRUE)
      layer)))
(refusal "mask"
  (lambda (image layer)
    (gimp-layer-add-alpha layer)
    (let ((mask (car (gimp-layer-create-mask layer ADD-MASK-WHITE))))
      (gimp-layer-add-mask layer mask)
      mask)))
(refusal "channel"
  (lambda (image layer)
    (let ((channel (car (gimp-channel-new image 600 400 "channel" 50 '(0 0 0)))))
      (gimp-image-insert-channel image channel 0 0)
      channel)))
(refusal "indexed"
  (lambda (image layer)
    (gimp-image-convert-indexed image CONVERT-DITHER-NONE CONVERT-PALETTE-GENERATE 16 FALSE FALSE "")
    layer))

(refusal "grey" (lambda (image layer) (gimp-image-convert-grayscale image) layer))
(refusal "group"
  (lambda (image layer)
    (let ((group (car (gimp-layer-group-new image))))
      (gimp-image-insert-layer image group 0 -1)
      group)))

(note "registered" (gimp-plugins-query "glyphmosaic"))
