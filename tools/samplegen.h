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
    // A rougher station, as a real camera sees it (all 0: none of it): light that falls off from
    // a lamp's spot across the whole picture, by up to this share of the grey; a grain over
    // everything (the wall's plaster, the plates' fibres) of this many grey levels, in blobs
    // of a few pixels and streaks along the rows; and sensor noise of this sigma over the stack.
    double lightFalloff = 0.0;
    double grainGrey = 0.0;
    double stackNoiseSigma = 0.0;
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
    bool rough = false;  // uneven light, grain and noise as a real camera's (see StationScene)
};

// Lays out a station photograph: the stack as planStack lays one out (bright plates, dark
// joints), its place in the picture, the wall's lit patch and the press head, all drawn from the
// seed. Throws std::invalid_argument when the plan cannot be laid out.
StationScene planStation(const StationPlan& plan, std::uint32_t seed);

// Draws a station photograph as a 24-bit bitmap.
BitmapPtr renderStation(const StationScene& scene, std::uint32_t seed);

// A photograph of a stack in a yard, taken by hand: the long edge of a stack of thin sheets
// (fibre-cement panels, flat or corrugated) seen a little from one side, so that the edge is a
// trapezium, one end taller than the other; the camera turned a little, so that the joints climb
// or fall across the picture; the top face of the stack above the edge (lighter, and striped by
// the ridges of corrugated sheets); timber bearers under the stack, grey ground below, a clad wall
// or other stacks behind and sky above them, all under uneven daylight.
//
// Points of the picture are columns from the left and rows from the bottom, measured to pixel
// corners: the pixel in column x and row y covers x to x+1 and y to y+1.
struct YardPoint {
    double x = 0.0;
    double y = 0.0;
};

// The few numbers of a yard photograph. The stack itself comes from boards, stackSeed and
// corrugated, so that photographs with the same three show the same sheets; the framing and the
// light come from the photograph's own seed and the numbers below.
struct YardPlan {
    int width = 1280;
    int height = 960;
    int boards = 30;              // sheets in the stack
    std::uint32_t stackSeed = 1;  // the sheets' thicknesses, shades, ends and joints
    bool corrugated = false;      // corrugated sheets: the top face shows their ridges
    double sheetRows = 6.0;       // rows from one joint to the next, halfway along the stack
    double slopeDegrees = 0.0;  // slope of the line halfway up the edge; positive climbs rightwards
    double taper = 0.03;        // the left end's height over the right end's, less 1
    double left = 0.1;          // the stack's ends, as shares of the width from the left edge;
    double right = 0.9;         // either may lie outside the picture
    double bottom = 0.25;       // the edge's bottom halfway along, as a share of the height
    bool stacksBehind = false;  // other stacks stand in front of the wall behind
};

// One sheet of a yard stack, bottom first. It reaches from the joint below it to the joint above.
struct YardSheet {
    double grey = 175.0;    // grey level of its edge before light and noise
    double endLeft = 0.0;   // columns its left end stands out past the stack's left end
    double endRight = 0.0;  // columns its right end stands out past the stack's right end
};

// The line between two sheets, darkest where the sheets part and fading where they touch.
struct YardJoint {
    double up = 0.5;     // its centre line, as a share of the edge's height from the bottom
    double rows = 2.0;   // its thickness in rows halfway along the stack
    double grey = 60.0;  // grey level where it is darkest
    double fade = 0.3;   // how much of its darkness it loses where the sheets touch, 0 to 1
};

// Another stack behind, out of focus: faint stripes under a lighter top.
struct YardStackBehind {
    double left = 0.0;  // its ends, in level columns (see YardScene)
    double right = 0.0;
    double bottom = 0.0;  // its foot and the height of its edge, in level rows
    double rows = 100.0;
    double sheetRows = 4.0;
    double grey = 150.0;
    double contrast = 20.0;  // how much darker its joints are than its sheets
};

// A yard photograph as it is drawn. The first fields are what a count should find and where;
// the rest describe the drawing, and may be adjusted before rendering.
struct YardScene {
    int width = 1280;
    int height = 960;
    int boards = 0;
    double sheetRows = 6.0;     // mean rows from one joint to the next, halfway along the stack
    double jointRows = 2.0;     // mean thickness of a joint there
    double slopeDegrees = 0.0;  // slope of the line halfway up the edge; positive climbs rightwards
    // The edge's corners: bottom left, bottom right, top right, top left. Single sheets stand out
    // past the ends by their endLeft and endRight. A point a share `up` of the way from the bottom
    // edge to the top edge lies on the straight line from the left end to the right end at that
    // share, so joint i runs from corners[0] + up * (corners[3] - corners[0]) to corners[1] + up *
    // (corners[2] - corners[1]), with up = joints[i].up.
    YardPoint corners[4];
    std::vector<YardSheet> sheets;
    std::vector<YardJoint> joints;  // joints[i] lies between sheets[i] and sheets[i + 1]

    // The level frame: the picture turned back by rollDegrees about its centre. There the stack's
    // ends stand upright, and its long lines (edge, joints, top face) run towards one point on
    // the horizon, far off on the side of the shorter end. Level rows below are measured halfway
    // along the stack, where a row of the edge is a row of the picture.
    double rollDegrees = 0.0;
    double left = 0.0;         // the stack's ends, level columns
    double right = 0.0;        //
    double bottom = 0.0;       // the edge's bottom, level row
    double topRows = 0.0;      // height of the top face seen above the edge
    double horizon = 0.0;      // level row of the horizon
    double convergence = 0.0;  // 1 / (columns from the stack's middle to the vanishing point)
    bool corrugated = false;
    int ridges = 10;  // ridges across the top face of corrugated sheets
    double ridgePhase = 0.0;
    double topGrey = 200.0;
    double sheetWarmth = 0.0;  // colour of the sheets: above 0 warmer, below 0 cooler
    double bearerRows = 40.0;  // timber bearers under the stack
    int bearers = 4;
    double bearerColumns = 40.0;
    double bearerGrey = 110.0;
    double groundGrey = 140.0;
    double farEdge = 0.0;  // level row where the ground meets the wall
    double wallGrey = 165.0;
    double wallWarmth = 0.0;
    double ribColumns = 32.0;  // columns from one rib of the wall's cladding to the next
    double wallTop = 0.0;      // level row of the wall's top; sky above it
    double skyGrey = 220.0;
    std::vector<YardStackBehind> behind;
    // Daylight and camera.
    double gradientX = 0.1;  // brightness change, as a fraction, from the centre to the right edge
    double gradientY = 0.0;  // the same from the centre to the top edge
    double vignette = 0.1;   // fraction darker in the corners
    // The shadow of a building on everything but the sky: a half plane with a soft edge.
    double shadowDepth = 0.0;   // fraction darker inside it; 0 means none
    double shadowAngle = 0.0;   // direction, in radians, from the picture's centre into it (level)
    double shadowOffset = 0.0;  // distance of its edge from the picture's centre, in pixels
    double shadowSoftness = 40.0;  // width of its edge, in pixels
    double noiseSigma = 2.5;
};

// Lays out a yard photograph: the stack's sheets and joints drawn from the stack seed, the
// framing from the plan, the ground, wall, other stacks and daylight from the seed. Throws
// std::invalid_argument, naming the field, when the plan cannot be laid out.
YardScene planYard(const YardPlan& plan, std::uint32_t seed);

// Draws a yard photograph as a 24-bit bitmap. Throws std::invalid_argument when the scene is
// inconsistent, and std::runtime_error when the bitmap cannot be allocated.
BitmapPtr renderYard(const YardScene& scene, std::uint32_t seed);

// An 8-bit grey copy of a bitmap (the library's own luminance conversion).
BitmapPtr toGreyscale(FIBITMAP* dib);

// Writes a 24-bit or 8-bit bitmap as a JPEG with the given quality (1 to 100) and no chroma
// subsampling, so that thin dark lines keep sharp edges. The default of 90 is deliberate: files
// saved at 92 and above come back from the library's default (fast) JPEG decoder with whole rows
// shifted by up to 8 grey levels, enough to push a faint joint across the threshold. Throws
// std::runtime_error naming the file when it cannot be written.
void saveJpeg(FIBITMAP* dib, const std::string& path, int quality = 90);

// Writes a 24-bit or 8-bit bitmap as a JPEG the way a phone does: colour at half the resolution
// in both directions (4:2:0) and the standard Huffman tables. Throws as saveJpeg does.
void savePhoneJpeg(FIBITMAP* dib, const std::string& path, int quality = 88);

}  // namespace lathmark::samplegen
