#pragma once
// Synthetic photographs of a stack of fibreboard, seen edge on, with a known number of boards.
//
// A photograph is described bottom to top, the way the counter reads rows: a dark floor, the
// stack (board, joint, board, joint, ..., board) and a dark wall. planStack() turns a few
// numbers (size, board count, how many faint joints) into a full description; renderStack()
// draws a description into a 24-bit bitmap; saveJpeg() writes it. The same description and seed
// always give the same pixels: the random numbers come from std::mt19937 through distributions
// written here, not from the standard library's, whose output differs between libraries.

#include <FreeImage.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lathmark::samplegen {

struct BitmapUnload {
    void operator()(FIBITMAP* dib) const noexcept {
        if (dib != nullptr) FreeImage_Unload(dib);
    }
};
using BitmapPtr = std::unique_ptr<FIBITMAP, BitmapUnload>;

// One board face: a light band of rows with fibre grain.
struct Board {
    int rows = 30;        // thickness in rows
    double grey = 195.0;  // mean grey level of the face before lighting and noise
};

// The line where two boards meet. Grey levels are luminance, before lighting and noise.
struct Joint {
    int rows = 5;           // thickness of the line's core, in rows
    double grey = 70.0;     // grey level of the core
    double greyWander = 0;  // slow change of the core's grey along the line, up to +- this
    double tilt = 0;        // rows the line climbs from the left edge to the right edge
    double wave = 0;        // amplitude in rows of a slow bend along the line
    int gapStart = 0;       // first column of a short stretch where the boards part
    int gapLength = 0;      // columns in that stretch; 0 means the joint has none
    double gapGrey = 80.0;  // grey level inside the stretch
};

// A full description of one photograph. Rows count from the bottom of the picture.
struct StackPhoto {
    int width = 768;
    int height = 576;
    int floorRows = 64;  // dark floor, rows 0 to floorRows-1
    int wallRows = 64;   // dark wall, the top wallRows rows
    // Bottom board first. Boards and joints must fill exactly height - floorRows - wallRows rows.
    std::vector<Board> boards;
    std::vector<Joint> joints;  // joints[i] lies between boards[i] and boards[i+1]

    double floorGrey = 55.0;
    double wallGrey = 50.0;
    // A lighter vertical strip on the wall (a pillar, a door frame); 0 columns means none.
    int wallStripStart = 0;
    int wallStripColumns = 0;
    double wallStripGrey = 150.0;

    double grain = 6.0;       // amplitude in grey levels of the grain along each board face
    double fibres = 7.0;      // grey levels of the short fibre flecks on each board face
    double edgeShade = 0.06;  // how much darker a face gets in the rows next to a joint (fraction)
    double gradientX = 0.01;  // brightness change, as a fraction, from the centre to the right edge
    double gradientY = 0.01;  // the same from the centre to the top edge
    double noiseSigma = 2.0;  // standard deviation of the sensor noise in grey levels
    bool colour = true;       // tinted like fibreboard and concrete; false draws r = g = b
};

// The few numbers from which planStack() lays out a photograph.
struct StackPlan {
    int width = 768;
    int height = 576;
    int floorRows = 64;
    int wallRows = 64;
    int boards = 10;
    int jointRowsMin = 4;
    int jointRowsMax = 7;
    int boardJitterRows = 2;  // boards differ from the mean thickness by up to this many rows
    double boardGreyMin = 180.0;
    double boardGreyMax = 212.0;
    double darkJointGreyMin = 40.0;
    double darkJointGreyMax = 100.0;
    // Joints that are barely darker than a grey of 138: visible only when the photograph is
    // thresholded 10 above the usual 128.
    int faintJoints = 0;
    double faintJointGrey = 135.0;
    // Tight joints, lighter than 138, each with one dark gap this many columns long.
    std::vector<int> gapLengths;
    double gapJointGrey = 158.0;
};

// Lays out a photograph: board thicknesses spread around the mean, joint thicknesses and grey
// levels drawn at random, the faint and gapped joints placed on randomly chosen joints. The result
// can be adjusted (lighting, noise, colour) before rendering. Throws std::invalid_argument, naming
// the field, when the plan cannot be laid out.
StackPhoto planStack(const StackPlan& plan, std::uint32_t seed);

// Draws the photograph as a 24-bit bitmap. Throws std::invalid_argument, naming the field, when
// the description is inconsistent, and std::runtime_error when the bitmap cannot be allocated.
BitmapPtr renderStack(const StackPhoto& photo, std::uint32_t seed);

// A counting station seen by its fixed camera: a dark table along the bottom, a dark wall behind,
// a stack of bright plates standing on the table in part of the picture's width, and a dark press
// head hanging above the stack. Rows count from the bottom of the picture.
struct StationScene {
    int width = 1024;
    int height = 768;
    int tableRows = 96;  // the table, rows 0 to tableRows-1; the stack stands on it
    double tableGrey = 34.0;
    double wallGrey = 48.0;
    // A lit patch of the wall beside the stack (a lamp's reflection); 0 columns means none.
    int patchLeft = 0;
    int patchColumns = 0;
    int patchBottom = 0;
    int patchRows = 0;
    double patchGrey = 110.0;
    int stackLeft = 0;  // the stack's first column
    // The stack alone: as wide as the stack, with no floor or wall rows.
    StackPhoto stack;
    // The press head above the stack.
    int objectLeft = 0;
    int objectColumns = 0;
    int objectBottom = 0;
    int objectRows = 0;
    double objectGrey = 22.0;
    double noiseSigma = 2.5;
};

// The few numbers of a station photograph.
struct StationPlan {
    int width = 1024;
    int height = 768;
    int tableRows = 96;
    int boards = 10;
    int boardRows = 24;  // mean thickness of a plate, in rows
    int jointRows = 4;
    double stackShare = 0.45;  // share of the width the stack fills
    double shift = 0.0;        // the stack's centre right of the picture's, as a share of width
    int faintJoints = 0;       // joints barely darker than the plates (see StackPlan)
    double faintJointGrey = 150.0;
};

// Lays out a station photograph: the stack as planStack lays one out (bright plates, dark
// joints), its place in the picture, the wall's lit patch and the press head, all drawn from the
// seed. Throws std::invalid_argument when the plan cannot be laid out.
StationScene planStation(const StationPlan& plan, std::uint32_t seed);

// Draws a station photograph as a 24-bit bitmap.
BitmapPtr renderStation(const StationScene& scene, std::uint32_t seed);

// An 8-bit grey copy of a bitmap (the library's own luminance conversion).
BitmapPtr toGreyscale(FIBITMAP* dib);

// Writes a 24-bit or 8-bit bitmap as a JPEG with the given quality (1 to 100) and no chroma
// subsampling, so that thin dark lines keep sharp edges. The default of 90 is deliberate: files
// saved at 92 and above come back from the library's default (fast) JPEG decoder with whole rows
// shifted by up to 8 grey levels, enough to push a faint joint across the threshold. Throws
// std::runtime_error naming the file when it cannot be written.
void saveJpeg(FIBITMAP* dib, const std::string& path, int quality = 90);

}  // namespace lathmark::samplegen
