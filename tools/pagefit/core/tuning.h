// Every number the photo search was tuned with, by stage, each with what it
// guards against. Lengths are in inches and become pixels or cells at the
// scan's resolution; tones are luma levels (0..255); angles are degrees.
// Changing one changes the benchmark's figures: rerun it after any change.
#pragma once

namespace pagefit {
namespace tuning {

// --- Grid summary ---------------------------------------------------------
// Cells of about 1/75 inch: fine enough to follow a print's corner, coarse
// enough that a cell's mean is steady against sensor noise.
const double CELLS_PER_INCH = 75;
const int SMALLEST_CELL = 2; // pixels, at very low resolutions
const int LARGEST_CELL = 16; // pixels, at very high resolutions
// A page that went through JPEG: its blocks are this many pixels; the
// steps across their boundaries (every few rows) are this many times the
// steps inside, plus these levels.
const int JPEG_BLOCK = 8;
const int JPEG_ROW_STEP = 4;
const double JPEG_STEP_RATIO = 1.3;
const double JPEG_STEP_LEVELS = 0.2;

// A 1-bit scan is analysed on its mean over windows this wide (twice over),
// where error diffusion's dots are texture and a threshold's edges stay
// where they were.
const double DITHER_RADIUS_INCHES = 1.0 / 200;

// --- Backing model --------------------------------------------------------
// The page's outer ring teaches the backing's level: the scanner always
// leaves this much backing around a sheet.
const double MARGIN_RING_INCHES = 0.12;
const int SMALLEST_MARGIN_RING_CELLS = 2;
// A column or row profile needs this many backing cells; fewer are bridged
// from the neighbours.
const int PROFILE_MIN_CELLS = 3;
// Cells enough for a spread; the rest of a large page is skipped.
const int SPREAD_SAMPLE_CELLS = 40000;
// Least spread of the backing's cell means (tone) and of its cell texture:
// even a perfectly flat backing must not make every quantisation step a mark.
const double TONE_SPREAD_FLOOR = 0.35;
const double TEXTURE_SPREAD_FLOOR = 0.25;
const double CHROMA_SPREAD_FLOOR = 0.35;
// After JPEG the backing's blocks are flat and its blotches step by whole
// quantisation steps from block to block: larger floors.
const double JPEG_TONE_SPREAD_FLOOR = 1.5;
const double JPEG_TEXTURE_SPREAD_FLOOR = 1.0;
// How many spreads off the backing a cell must be to count as a mark: the
// first pass keeps only what is surely not backing, the second is tighter.
const double LOOSE_MARK_SPREADS = 8.0;
const double MARK_SPREADS = 5.5;
// A cell's texture must also exceed its column's by this part of it plus
// these levels: streaks and blotches vary texture without being a print.
const double TEXTURE_MARGIN_PART = 0.35;
const double TEXTURE_MARGIN_LEVELS = 1.5;
// Cells this close to a mark never teach the backing (blur and shadows).
const int BACKING_CLEARANCE_CELLS = 2;
// The strip that teaches the column (row) deviations beyond the marks: at
// most this far from them, and thick enough to average blotches away.
const int PROFILE_STRIP_MIN_CELLS = 4;
const double PROFILE_ROOM_INCHES = 0.3;
const double PROFILE_STRIP_INCHES = 0.4;
// Full-resolution column offsets read every fourth row; a pixel column
// with fewer backing samples falls back to its cell column.
const int RESIDUAL_ROW_STEP = 4;
const int RESIDUAL_MIN_SAMPLES = 3;
// Least noise of one pixel: a quantised zero still leaves some.
const double PIXEL_NOISE_FLOOR = 0.5;

// --- Outline --------------------------------------------------------------
// Opening radius on the cell grid: hairs, streaks and single specks thinner
// than this go, the photo keeps its shape.
const int SPECK_RADIUS_CELLS = 1;
// Parts of one photo separated by backing-toned areas this wide join up.
const double JOIN_INCHES = 0.06;

// --- Border fit -----------------------------------------------------------
// A side's outward walk stops at offsets within this many levels (or cell
// spreads) of the backing.
const double SIDE_LIMIT_LEVELS = 1.5;
const double SIDE_LIMIT_SPREADS = 1.5;
// Edge segments: this long along the side (at least this many pixels); an
// edge must stand this far off the backing, or this many pixel noises of
// the segment's mean and cell spreads.
const double SEGMENT_INCHES = 0.12;
const int SEGMENT_MIN_PIXELS = 16;
const double SEGMENT_LIMIT_LEVELS = 2.0;
const double SEGMENT_LIMIT_NOISES = 4;
const double SEGMENT_LIMIT_SPREADS = 2;
// Part of a side's half length that is measured: corners may be rounded,
// torn or shadowed.
const double WALK_EXTENT = 0.8;
const double SEGMENT_EXTENT = 0.84;
// Pixels between the lines a side profile averages (a segment's profile
// reads more densely: it is short).
const double PROFILE_STEP_PIXELS = 3.0;
const double SEGMENT_STEP_PIXELS = 2.0;
// Profiles leave out this part of their samples at each end (dust, streaks),
// once an offset has this many samples.
const int TRIM_PARTS = 10;
const int TRIM_MIN_SAMPLES = 10;
// The outward walk: starts this far inside the side, first reads this far
// out, may read this far out at most, and needs a run of plain backing this
// long (or this many pixels) to stop; a dust-pushed side looks this deep in.
const double WALK_INSIDE_INCHES = 0.05;
const double WALK_FIRST_INCHES = 0.3;
const double WALK_FAR_INCHES = 0.6;
const double WALK_RUN_INCHES = 0.08;
const int WALK_RUN_MIN_PIXELS = 6;
const double WALK_DEEP_INCHES = 0.25;
// Where the walk ends off the backing, a sharp step inside is the edge: a
// step across this many pixels each way, of this many side limits, not
// behind a plateau further than this many side limits off the backing.
const int STEP_HALF_PIXELS = 2;
const double STEP_LIMITS = 0.75;
const double PLATEAU_LIMITS = 2;
// A segment reads the photo's level this far in, beyond a shadow this wide
// (plus a few pixels of blur each); its contrast weighs at most this much.
const double EDGE_REACH_INCHES = 0.04;
const int EDGE_REACH_PIXELS = 4;
const double SHADOW_INCHES = 0.01;
const int SHADOW_PIXELS = 1;
const int EDGE_INWARD_PIXELS = 4;
const double MOST_EDGE_WEIGHT = 60.0;
// A print's cast shadow is looked for within this many shadow widths of the
// edge; the print's own step beside it must be at least this part of the
// shadow's.
const int SHADOW_WIDTHS = 2;
// Line art's shadow check reads a line across the side every pixel.
const double LINE_ART_STEP_PIXELS = 1.0;
const double SHADOW_STEP_PART = 0.3;
// A side's line needs this part of its segments (and at least this many).
const int LINE_MIN_PART = 4;
const int LINE_MIN_POINTS = 4;
// Line fits drop points this many spreads off the line (at least this many
// pixels), over this many rounds.
const int LINE_FIT_ROUNDS = 4;
const double LINE_OUTLIER_SPREADS = 3;
const double LINE_OUTLIER_PIXELS = 0.5;
// Sides whose angle is this far from the others' are not a print's side.
const double SIDE_AGREEMENT_DEGREES = 0.3;
// Rounds of measuring, until the angle and centre move less than this.
const int REFINE_ROUNDS = 4;
const double SETTLED_DEGREES = 0.002;
const double SETTLED_PIXELS = 0.05;
// Sharp steps far out (the picture's end, a faint border's outer edge) are
// means over windows this wide on each side.
const double STEP_WINDOW_INCHES = 0.012;
const int STEP_WINDOW_MIN_PIXELS = 3;
// A side without an edge moves out to the picture's end: a step with this
// much backing beyond it, before any gap of plain backing this long, and at
// least this far out; pages shorter than the least reach are not searched.
// Plain backing is within these levels or noises; the step must stand this
// many noises high.
const double END_GAP_INCHES = 0.1;
const double END_CLEAR_INCHES = 0.05;
const double END_LEAST_INCHES = 0.1;
const double END_LEAST_REACH_INCHES = 0.2;
const double END_NOISE_FLOOR = 0.05;
const double END_PLAIN_LEVELS = 0.5;
const double END_PLAIN_NOISES = 3;
const double END_STEP_NOISES = 8;
// A border of the backing's own tone: its outer step is looked for from
// this many pixels to this far beyond the sides, must be at least this wide
// (narrower is a shadow or the edge's blur), stand this far over the noise,
// have a plateau inside that stands off the backing by this part of the
// step, and agree on enough sides within these pixels or this part.
const int FAINT_FROM_PIXELS = 2;
const double FAINT_TO_INCHES = 0.35;
const double FAINT_LEAST_INCHES = 0.06;
const double FAINT_NOISE_FLOOR = 0.02;
const double FAINT_STEP_LEVELS = 0.3;
const double FAINT_STEP_NOISES = 6;
const double FAINT_PLATEAU_PART = 0.5;
const int FAINT_OUTER_WINDOWS = 4; // windows of backing read beyond the step
const int FAINT_AGREEING_SIDES = 3;
const double FAINT_AGREEMENT_PIXELS = 2.0;
const double FAINT_AGREEMENT_PART = 0.1;
// A fit is trusted only this close to the outline's box: the turn from it
// (more when all four sides agree), and its size (this part of it, up to
// this part plus an inch).
const double TURN_ALLOWED_DEGREES = 3;
const double TURN_ALLOWED_ALL_SIDES_DEGREES = 8;
const double LEAST_SIZE_PART = 0.7;
const double MOST_SIZE_PART = 1.5;
// Without a measured edge the outline's turn is kept only when the mark
// covers this part of its rectangle and the turn is no larger than this.
const double SOLID_OUTLINE_PART = 0.85;
const double MOST_UNMEASURED_TURN_DEGREES = 15;

} // namespace tuning
} // namespace pagefit
