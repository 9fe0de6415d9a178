; Cases of plug-in-quillane-matte in a headless GIMP, run by gimp_plugin_test.sh, which defines
; samples, trimap-image, trimap and out before this file. Results go to PNG files in out and
; to lines "case: ..." on standard error.

(define (report . texts) (gimp-message (apply string-append texts)))

; A new image of the photograph at path: (image photo).
(define (open-photo path)
  (let* ((image (car (gimp-file-load RUN-NONINTERACTIVE path path))))
    (list image (car (gimp-image-get-active-layer image)))))

; The image at path as a new top layer of image, named name.
(define (add-layer image path name)
  (let ((layer (car (gimp-file-load-layer RUN-NONINTERACTIVE image path))))
    (gimp-image-insert-layer image layer 0 0)
    (gimp-item-set-name layer name)
    layer))

(define (save drawable image path)
  (file-png-save2 RUN-NONINTERACTIVE image drawable path path 0 9 0 0 0 0 0 0 0))

; A mask holds opacities, linear values: at linear precision the PNG keeps them unchanged.
(define (save-mask image photo path)
  (gimp-image-convert-precision image PRECISION-U8-LINEAR)
  (save (car (gimp-layer-get-mask photo)) image path))

; Runs the procedure; returns its error message, "" when it succeeded.
(define (try-matte image photo strokes trimap auto levels active softness radius clean)
  (let ((message "") (hook *error-hook*))
    (set! *error-hook* (lambda args (set! message (car args)) (apply throw args)))
    (catch #f (plug-in-quillane-matte RUN-NONINTERACTIVE image photo strokes trimap auto levels
                                      active softness radius clean))
    (set! *error-hook* hook)
    message))

(define (check-matte name image photo strokes trimap auto levels active softness radius clean)
  (let ((message (try-matte image photo strokes trimap auto levels active softness radius clean)))
    (report name ": " (if (equal? message "") "done" message))))

; The sample with its strokes and automatic levels.
(let* ((opened (open-photo (string-append samples "/lemur.png")))
       (image (car opened)) (photo (cadr opened))
       (strokes (add-layer image (string-append samples "/lemur_strokes.png") "strokes")))
  (check-matte "auto" image photo strokes FALSE TRUE 1 1 1e-7 1 FALSE)
  (save-mask image photo (string-append out "/auto.png"))
  (gimp-image-delete image))

; A stroke layer smaller than the photograph and moved by (20, 10); levels of our own (3, 2 of them solved, windows of radius 2).
(let* ((opened (open-photo (string-append samples "/lemur.png")))
       (image (car opened)) (photo (cadr opened))
       (strokes (add-layer image (string-append samples "/lemur_strokes.png") "my strokes")))
  (gimp-layer-resize strokes 640 410 -20 -10)
  (check-matte "shifted" image photo strokes FALSE FALSE 3 2 1e-6 2 FALSE)
  (save-mask image photo (string-append out "/shifted.png"))
  (gimp-image-delete image))

; A trimap, with clean edge colours: first the photograph's colours, then its mask.
(if (not (equal? trimap-image ""))
    (let* ((opened (open-photo trimap-image))
           (image (car opened)) (photo (cadr opened))
           (layer (add-layer image trimap "trimap")))
      (check-matte "trimap" image photo layer TRUE TRUE 1 1 1e-7 1 TRUE)
      (save photo image (string-append out "/trimap-colours.png"))
      (save-mask image photo (string-append out "/trimap.png"))
      (gimp-image-delete image)))

; Refusals leave the image as it was: no mask.
(let* ((opened (open-photo (string-append samples "/lemur.png")))
       (image (car opened)) (photo (cadr opened))
       (blank (car (gimp-layer-new image 680 440 RGBA-IMAGE "blank" 100 LAYER-MODE-NORMAL))))
  (gimp-image-insert-layer image blank 0 0)
  (check-matte "photo as strokes" image photo photo FALSE TRUE 1 1 1e-7 1 FALSE)
  (check-matte "no strokes" image photo blank FALSE TRUE 1 1 1e-7 1 FALSE)
  (report "mask after refusals: " (number->string (car (gimp-layer-get-mask photo))))
  (gimp-image-delete image))

(gimp-quit 0)
