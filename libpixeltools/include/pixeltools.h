/* pixeltools: the pixel-art scaler (mostel) and sprite rotator (quillet) as a C library.
 *
 * Every public name starts with pxt_ (PXT_ for macros and constants). The header is valid C99
 * and C++. Images are 8-bit RGBA in memory. Nothing in the library exits, aborts, prints or
 * throws: every call that can fail returns a pxt_status and, when given an error record, fills
 * it with the code and a message naming the cause. The library keeps no global state: calls on
 * different pictures may run on several threads at once and give the bytes each gives alone.
 *
 * Ownership: an image the caller fills in is the caller's; the library never frees it. Every
 * image, byte buffer or result the library fills in is the library's and is released with the
 * matching free call (pxt_image_free, pxt_free, pxt_turn_result_free), which also accept an
 * empty or zeroed record. */
#ifndef PIXELTOOLS_H
#define PIXELTOOLS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define PXT_VERSION_MAJOR 1
#define PXT_VERSION_MINOR 1
#define PXT_VERSION_PATCH 0
#define PXT_VERSION_STRING "1.1.0"
/* One number that grows with every release: major x 10000 + minor x 100 + patch. */
#define PXT_VERSION (PXT_VERSION_MAJOR * 10000 + PXT_VERSION_MINOR * 100 + PXT_VERSION_PATCH)

/* The version of the library that is running, as PXT_VERSION_STRING spells it. */
const char* pxt_version(void);

/* ---- Errors ----------------------------------------------------------------------------- */

typedef enum pxt_status {
  PXT_OK = 0,
  PXT_ERROR_ARGUMENT = 1,          /* a null pointer, a bad size or stride, an option out of range */
  PXT_ERROR_READ = 2,              /* a file could not be opened or read */
  PXT_ERROR_NOT_PNG = 3,           /* the bytes are not a PNG file */
  PXT_ERROR_DECODE = 4,            /* a PNG file whose picture cannot be decoded */
  PXT_ERROR_TOO_LARGE = 5,         /* a picture, enlargement, frame or sheet over a limit */
  PXT_ERROR_TOO_MANY_COLOURS = 6,  /* no 24-bit colour is left to stand for one of its values */
  PXT_ERROR_OUT_OF_MEMORY = 7,     /* memory ran out */
  PXT_ERROR_ENCODE = 8,            /* the picture could not be encoded as a PNG */
  PXT_ERROR_WRITE = 9,             /* a file could not be written whole (nothing was left under its name) */
  PXT_ERROR_TEMPORARY = 10,        /* a temporary file could not be made or written */
  PXT_ERROR_CANCELLED = 11         /* the progress record's cancel answered yes */
} pxt_status;

typedef struct pxt_error {
  pxt_status code;
  int system_error;    /* errno (or the platform's error number) behind READ, WRITE, TEMPORARY; else 0 */
  uint32_t width;      /* the picture's size, when a PNG header gave it before the call failed; else 0 */
  uint32_t height;
  char message[512];   /* one line naming the cause, NUL-terminated, no newline */
} pxt_error;

/* The fixed text of a code (such as "out of memory"); never null. */
const char* pxt_status_text(pxt_status code);

/* ---- Limits, checked before anything is allocated ------------------------------------------ */

typedef struct pxt_limits {
  uint64_t max_file_bytes;        /* PNG bytes read from a file (1 GiB) */
  uint64_t max_mostel_pixels;     /* pixels of mostel's input (8192 x 8192) */
  uint64_t max_enlarged_bytes;    /* 24-bit rows of quillet's eight-times enlargement (1 GiB; 256 MiB in a 32-bit process) */
  uint64_t max_output_bytes;      /* a frame's 24-bit rows, or a canvas or sheet at 4 bytes a pixel (1 GiB) */
} pxt_limits;

/* Fills limits with the programs' own limits. Every call that takes a limits record takes
 * null as these defaults. */
void pxt_limits_default(pxt_limits* limits);

/* ---- Images ------------------------------------------------------------------------------- */

/* width x height pixels of 4 bytes (R, G, B, A), rows from the top, stride bytes from the start
 * of one row to the next (at least 4 x width). */
typedef struct pxt_image {
  uint32_t width;
  uint32_t height;
  size_t stride;
  unsigned char* pixels;
} pxt_image;

/* A library-owned width x height image of transparent pixels, stride 4 x width. */
pxt_status pxt_image_create(uint32_t width, uint32_t height, pxt_image* image, pxt_error* error);

/* Releases a library-owned image's pixels and zeroes the record. */
void pxt_image_free(pxt_image* image);

/* Releases bytes the library allocated (pxt_png_encode). */
void pxt_free(void* bytes);

/* ---- PNG ---------------------------------------------------------------------------------- */

/* Decodes PNG bytes into a library-owned RGBA image. The header's size is checked against
 * max_file_bytes' room and max_output_bytes before the picture is decoded. */
pxt_status pxt_png_decode(const void* bytes, size_t size, const pxt_limits* limits, pxt_image* image,
                          pxt_error* error);

/* Reads and decodes a PNG file; the file is read no further than its header when that is refused. */
pxt_status pxt_png_read_file(const char* path, const pxt_limits* limits, pxt_image* image, pxt_error* error);

/* How a PNG is encoded; both decode to exactly the image's pixels. */
typedef enum pxt_png_encoding {
  PXT_PNG_SMALLEST = 0, /* the smallest colour type and bit depth that hold them all (mostel's files) */
  PXT_PNG_RGBA8 = 1     /* always 8-bit RGBA (quillet's frames and sheets) */
} pxt_png_encoding;

/* Encodes an image as a PNG into library-owned bytes, released with pxt_free. */
pxt_status pxt_png_encode(const pxt_image* image, pxt_png_encoding encoding, unsigned char** bytes, size_t* size,
                          pxt_error* error);

/* Encodes and writes a PNG file: it appears under path only when it was written whole. */
pxt_status pxt_png_write_file(const char* path, const pxt_image* image, pxt_png_encoding encoding, pxt_error* error);

/* ---- Progress ----------------------------------------------------------------------------- */

/* Any member may be null. position gets 0..100 in order; status gets a line or two of text;
 * cancel is asked between steps, and a non-zero answer ends the call with PXT_ERROR_CANCELLED.
 * The callbacks run on the calling thread. */
typedef struct pxt_progress {
  void (*position)(void* context, int percent);
  void (*status)(void* context, const char* text);
  int (*cancel)(void* context);
  void* context;
} pxt_progress;

/* ---- mostel: the 3x edge-rule enlargement --------------------------------------------------- */

/* Enlarges input three times, every output pixel a colour of the input, into a library-owned
 * image. edge_decisions, when not null, gets the count of edge decisions the scaler made (the
 * "filtered pixels" mostel prints). threads: 0 uses every core; the bytes do not depend on it. */
pxt_status pxt_mostel_enlarge(const pxt_image* input, unsigned threads, const pxt_limits* limits,
                              pxt_image* output, uint32_t* edge_decisions, pxt_error* error);

/* ---- quillet: turning a sprite ------------------------------------------------------------ */

typedef enum pxt_frame_format {
  PXT_FRAMES_RGBA = 0,  /* RGBA frames on one canvas, transparency kept (quillet -format png) */
  PXT_FRAMES_BMP = 1    /* opaque frames as quillet's BMP files hold them (quillet -format bmp) */
} pxt_frame_format;

typedef struct pxt_turn_options {
  double angle;            /* degrees of the first frame, counter-clockwise (0) */
  double end_angle;        /* degrees of the last frame of a series (0) */
  double scale;            /* factor of the first frame; 0 or less means 1 (1) */
  double end_scale;        /* factor of the last frame of a series (1) */
  int32_t frames;          /* below 2: one frame (1) */
  int32_t sheet_columns;   /* RGBA frames: above 0, one sheet of that many frames to a row (0) */
  pxt_frame_format format; /* (PXT_FRAMES_RGBA) */
  uint32_t background;     /* BMP frames: 0xRRGGBB that transparent pixels lie over (0xFF00FF) */
  int background_given;    /* BMP frames: non-zero makes them as RGBA frames laid over background,
                              as quillet -background does (0) */
  unsigned threads;        /* 0 uses every core; the bytes do not depend on it (0) */
} pxt_turn_options;

/* Fills options with the defaults in brackets above. */
void pxt_turn_options_default(pxt_turn_options* options);

/* Where one frame sits: its box in the sheet (x, y, width, height; x = y = 0 without a sheet),
 * where the turned picture's centre lies in the frame, in pixels from its top-left corner, and
 * the angle and scale it was turned at (a scale of 0 or less given as 1). RGBA frames, and BMP
 * frames with background_given, all have the canvas's size; other BMP frames each have their
 * own, with the centre at their middle. */
typedef struct pxt_frame_place {
  int32_t x, y;
  uint32_t width, height;
  double centre_x, centre_y;
  double angle, scale;
} pxt_frame_place;

typedef struct pxt_turn_result {
  size_t frame_count;       /* frames of the series, in order */
  pxt_frame_place* places;  /* frame_count places */
  pxt_image* frames;        /* frame_count library-owned images; null with a sheet */
  pxt_image sheet;          /* with sheet_columns > 0: every frame in one image; else empty */
  uint32_t canvas_width, canvas_height;  /* RGBA frames: the canvas every frame shares */
} pxt_turn_result;

/* Turns the sprite as quillet does for one job with these options, frames or a sheet in memory
 * (the same pixels the program's files hold). BMP frames, and RGBA frames past 64 MiB held
 * until the series' canvas is known, go through the job's temporary files in the system's
 * temporary folder, which are removed on every way out. */
pxt_status pxt_quillet_turn(const pxt_image* sprite, const pxt_turn_options* options,
                            const pxt_progress* progress, const pxt_limits* limits, pxt_turn_result* result,
                            pxt_error* error);

/* Releases everything a turn result holds and zeroes the record. */
void pxt_turn_result_free(pxt_turn_result* result);

#ifdef __cplusplus
}
#endif

#endif /* PIXELTOOLS_H */
