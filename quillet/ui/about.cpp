#include "quillet/about.h"

#include <cstring>
#include <string>
#include <vector>

#include "quillet/command_line.h"

namespace quillet {
namespace {

const char kHelp[] =
    "Usage: quillet [-in INPUT] [-out OUTPUT] [-angle DEGREES] [-endangle DEGREES]\n"
    "               [-scale FACTOR] [-endscale FACTOR] [-frames COUNT] [-quiet]\n"
    "               [-format bmp|png] [-sheet COLUMNS] [-background #RRGGBB]\n"
    "               [-directions N] [-cells WxH] [-pivot X,Y] [-canvas keep]\n"
    "               [-data json|godot] [-fps N]\n"
    "       quillet [options] -outdir DIR [-overwrite yes] -- INPUT...\n"
    "Turns and scales a sprite without blurring it and writes 24-bit BMP frames, or\n"
    "PNG frames that keep its transparency.\n"
    "\n"
    "  -in FILE        the picture to turn: 24-bit BMP, or PNG, JPEG, GIF, TIFF, ...\n"
    "  -out NAME       the output; .bmp is added unless NAME ends in it (see quillet(1))\n"
    "  -angle A        angle in degrees, counter-clockwise (first frame)\n"
    "  -endangle A     angle of the last frame\n"
    "  -scale S        scale factor (first frame)\n"
    "  -endscale S     scale of the last frame\n"
    "  -frames N       number of frames, written as NAME_1.bmp .. NAME_N.bmp\n"
    "  -format F       bmp (the default) or png: RGBA frames on one canvas per series\n"
    "  -sheet C        with -format png: one sprite sheet NAME.png, C frames to a row\n"
    "  -background C   BMP frames turned as PNG ones, then laid over C, #rrggbb\n"
    "  -directions N   with -format png: N turns over a full circle from -angle\n"
    "  -cells WxH      with -format png: the input is a strip or grid of WxH cells,\n"
    "                  each turned in every direction, all on one canvas\n"
    "  -pivot X,Y      with -format png: the point of the picture (of each cell) that\n"
    "                  the frames turn about and that stays put (default: its centre)\n"
    "  -canvas keep    with -format png: frames keep the input's (cell's) canvas,\n"
    "                  grown evenly as far as a turned frame needs\n"
    "  -data D         with -format png: json or godot, a data file for game engines\n"
    "                  beside the frames or sheet (NAME.json, NAME.tres)\n"
    "  -fps N          frames per second the data file gives the animations (10)\n"
    "  -quiet          no progress lines and no bar; errors and warnings still shown\n"
    "  -outdir DIR     a batch: every file after --, and every image below each folder,\n"
    "                  turned as one job each, named after it under DIR (tree mirrored)\n"
    "  -overwrite yes  a batch replaces outputs that exist (else their input is skipped)\n"
    "  -help, -h       print this help and end (also --help)\n"
    "  -version        print the version and end (also --version)\n"
    "\n"
    "With -in, -out and -angle or -scale (and -frames when an end value is given) it runs\n"
    "once without questions; otherwise it asks on the terminal for what is missing.\n"
    "Run once like that, it refuses an unknown option; an -out that is a folder or ends\n"
    "in a separator is always refused.\n"
    "Exit status: 0 when every frame was written, 2 for a refused command line, 3 when\n"
    "the output folder cannot be written, 130 when Ctrl-C stopped a job run once;\n"
    "a batch: 6 when some inputs were skipped, 7 when some failed;\n"
    "see quillet(1) for the others.\n";

const char kVersion[] = "quillet " PIXELTOOLS_VERSION "\n";

// The long forms are whole, case-sensitive words; -help and -version are options like the
// others, whose names ignore ASCII case.
AboutRequest RequestOf(const char* token) {
  if (std::strcmp(token, "--help") == 0 || std::strcmp(token, "-h") == 0 || SameOption(token, "-help"))
    return AboutRequest::kHelp;
  if (std::strcmp(token, "--version") == 0 || SameOption(token, "-version")) return AboutRequest::kVersion;
  return AboutRequest::kNone;
}

}  // namespace

AboutRequest FindAboutRequest(const char* const* tokens, int count) {
  for (int i = 0; i < count; ++i) {
    const char* token = tokens[i] ? tokens[i] : "";
    const AboutRequest request = RequestOf(token);
    if (request != AboutRequest::kNone) return request;
    if (token[0] == '-' && !TakesNoValue(token)) ++i;  // its value
  }
  return AboutRequest::kNone;
}

AboutRequest FindAboutRequestInText(const char* text) {
  if (!text) return AboutRequest::kNone;
  // The tokenizer splits in place, so it works on a copy.
  std::string copy(text);
  char* cursor = copy.data();
  std::vector<const char*> tokens;
  for (;;) {
    const char* token = NextToken(&cursor);
    if (token[0] == '\0') break;
    tokens.push_back(token);
  }
  return FindAboutRequest(tokens.data(), static_cast<int>(tokens.size()));
}

int AnswerAboutRequest(AboutRequest request, std::FILE* out) {
  const char* text = request == AboutRequest::kVersion ? kVersion : kHelp;
  const bool written = std::fputs(text, out) >= 0;
  return written && std::fflush(out) == 0 ? 0 : 1;
}

}  // namespace quillet
