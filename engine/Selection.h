#pragma once

#include "engine/RenderPass.h"
#include "engine/TBitmap32.h"
#include "engine/ViewSampling.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace tintavo {

class BrushOverlay;

// Which pixels keep their colour, beyond the RGB box of the render pass.
//
// RgbBox (the default): the box of per-channel thresholds around each Central Color, exactly
//   as RenderPixels and IsKept decide it (Box, each 0..255).
// Hue: kept when the pixel's chroma C = max(R, G, B) - min(R, G, B) is above ChromaFloor
//   (C > ChromaFloor, 0..254; a grey, C = 0, is never kept) and its hue lies within
//   HueTolerance degrees (0..180) of the Central Color's hue, the shorter way round the circle
//   (red, at 0 and 360 degrees, is one hue). Brightness plays no part, so an object keeps its
//   colour in its own shadow. The hue is the hexagonal one, in integer steps of 1/1536 of a
//   turn: with M the largest channel, 256 * (G - B) / C when M is red, 512 + 256 * (B - R) / C
//   when M is green (and not red), else 1024 + 256 * (R - G) / C, the division truncating
//   toward zero and a negative result taken once round the circle. A Central Color with no
//   chroma has no hue and keeps nothing. Defaults: 20 degrees, floor 24.
// Perceptual: kept when the Oklab distance between the pixel and the Central Color, times
//   100, is at most PerceptualRadius (0..100). Oklab is computed in double precision from the
//   sRGB values (the sRGB curve, then the Oklab matrices and cube roots). Default 10.
//
// For Hue and Perceptual a Central Color outside 0..255 is clamped to it per channel; the RGB
// box takes it unchanged, as the render pass does.
enum class ColourModel { RgbBox, Hue, Perceptual };

// The grey a pixel that is not kept turns towards. Average (the default): (R + G + B) / 3,
// truncated, as Desaturate. Luminance: the Rec. 709 luma of the sRGB values,
// (13933 R + 46871 G + 4732 B + 32768) >> 16 (weights 0.2126, 0.7152, 0.0722 out of 65536),
// so pure red 54, green 182, blue 18, and any grey keeps its level.
enum class GreyModel { Average, Luminance };

inline constexpr std::int32_t DefaultHueTolerance = 20;
inline constexpr std::int32_t MaxHueTolerance = 180;
inline constexpr std::int32_t DefaultChromaFloor = 24;
inline constexpr std::int32_t MaxChromaFloor = 254;
inline constexpr std::int32_t DefaultPerceptualRadius = 10;
inline constexpr std::int32_t MaxPerceptualRadius = 100;
inline constexpr std::int32_t MaxFeather = 50;
inline constexpr std::int32_t MaxStrength = 100;

struct SelectionOptions {
    ColourModel Model = ColourModel::RgbBox;
    // The kept colours: a pixel is kept when any of them keeps it. At least one.
    std::vector<CentralColor> Colours{CentralColor{}};
    Thresholds Box{};
    std::int32_t HueTolerance = DefaultHueTolerance;
    std::int32_t ChromaFloor = DefaultChromaFloor;
    std::int32_t PerceptualRadius = DefaultPerceptualRadius;
    // Soft edge width in pixels, 0 (the hard mask) to MaxFeather. See SoftenMask.
    std::int32_t Feather = 0;
    GreyModel Grey = GreyModel::Average;
    // How far a pixel that is not kept goes towards its grey: 0 (unchanged) to 100 (grey).
    std::int32_t Strength = MaxStrength;
};

// Raises EngineError naming the first value out of range (or an empty colour list). Only the
// chosen model's tolerances are checked: the others take no part.
void ValidateSelection(const SelectionOptions& options);

// True for the selection of the render pass itself: the RGB box, one colour, a hard edge,
// the average grey at full strength. Such a selection renders through RenderPixels.
bool IsWrittenSelection(const SelectionOptions& options);

// The blend of a pixel and its grey by coverage (0 = greyed, 255 = kept) and strength: with
// w = (255 - coverage) * strength (0..25500), each channel becomes
// (channel * (25500 - w) + grey * w + 12750) / 25500, that is rounded half up. Where w = 0 the
// pixel stays as it is, alpha included; elsewhere alpha is 255. At coverage 0 and strength
// 100 this is Desaturate (Average) exactly.
TColor32 BlendPixel(TColor32 col, std::uint32_t coverage, GreyModel grey, std::int32_t strength);

// The grey level of a pixel under a grey model.
std::uint32_t GreyLevel(TColor32 col, GreyModel grey);

// The per-pixel rule of a selection, fixed at construction (which validates the options and
// prepares lookup tables). Safe to use from several threads at once. Cheap to keep: build it
// once per change of the options, not per row.
class SelectionRule {
public:
    explicit SelectionRule(const SelectionOptions& options);
    ~SelectionRule();
    SelectionRule(SelectionRule&&) noexcept;
    SelectionRule& operator=(SelectionRule&&) noexcept;
    SelectionRule(const SelectionRule&) = delete;
    SelectionRule& operator=(const SelectionRule&) = delete;

    const SelectionOptions& Options() const;

    // True when the pixel keeps its colour (the hard mask's decision).
    bool Keeps(TColor32 col) const;

    // The rendered pixel of the hard selection: BlendPixel at coverage 255 or 0. For a view
    // that renders only the pixels it samples.
    TColor32 RenderPixel(TColor32 col) const;

    // One row of the hard selection, for a streaming pipeline: `out` gets RenderPixel of every
    // pixel and `mask` (when not null) MaskKept or MaskGreyed. `out` and `mask` may not
    // overlap `in`. The soft edge needs the whole picture: see RenderSelection.
    void RenderRow(const TColor32* in, TColor32* out, TColor32* mask, std::size_t count) const;

    // One row of the hard mask alone.
    void MaskRow(const TColor32* in, TColor32* mask, std::size_t count) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Whole pictures. A coverage mask holds opaque greys GreyPixel(coverage, 255): a hard mask
// (MaskKept / MaskGreyed only) is one with coverages 255 and 0.

// The hard mask of `source`, sized to it, rows shared between threads like RenderPixels.
// When `cancel` (read from any thread) turns true the remaining rows are skipped and the
// mask's content is unspecified: the caller throws it away.
void BuildHardMask(const TBitmap32& source, const SelectionRule& rule, TBitmap32& mask,
                   const std::function<void(std::int32_t row)>& onRow = {},
                   const std::atomic<bool>* cancel = nullptr);

// Rebuilds `render` (sized to the mask) from the picture and a coverage mask of its size with
// BlendPixel. With a hard mask, Average and strength 100 it equals RecomposePicture. Raises
// EngineError when the sizes differ or strength is out of range.
void ComposeSelection(const TBitmap32& source, const TBitmap32& coverage, GreyModel grey,
                      std::int32_t strength, TBitmap32& render);

// Everything after the hard mask: softens a copy of `hardMask` by the options' feather into
// `mask`, lays `brush` (when not null and not empty) over it, and composes `render`. The
// window's Filter runs FilterMask on its hard mask, then this. Raises EngineError when the
// sizes differ.
void FinishSelection(const TBitmap32& source, const TBitmap32& hardMask,
                     const SelectionOptions& options, const BrushOverlay* brush, TBitmap32& render,
                     TBitmap32& mask);

// The render pass with a selection: `render` and `mask` sized to the source; `mask` holds
// coverage (hard when the feather is 0 and no brush stroke lies on it). A written selection
// with no brush runs RenderPixels itself, so every byte stays as it was. `onRow` as in
// RenderPixels (reported while the per-pixel rule runs). Raises EngineError for options out
// of range, before anything is written.
void RenderSelection(const TBitmap32& source, const SelectionOptions& options, TBitmap32& render,
                     TBitmap32& mask, const BrushOverlay* brush = nullptr,
                     const std::function<void(std::int32_t row)>& onRow = {});

// The same with a rule already made, for a caller that renders again with unchanged options
// (a new picture, a brush stroke): the rule's tables are reused, and cells of the colour cube
// worked out for one render stay worked out. Always takes the rule's own path, which gives the
// same bytes as RenderPixels for a written selection.
void RenderSelection(const TBitmap32& source, const SelectionRule& rule, TBitmap32& render,
                     TBitmap32& mask, const BrushOverlay* brush = nullptr,
                     const std::function<void(std::int32_t row)>& onRow = {});

// What a view shows of a selection at the sampled pixels, without building the rest. The
// coverage of each sampled pixel is `coverage`'s (a coverage mask of the source's size: the
// softened or filtered mask) when given, else the rule's hard decision; the brush strokes,
// when given, are laid over it; `out` gets the mask pixel (GreyPixel(coverage, 255)) when
// `showMask` is set, else the pixel blended by the rule's grey and strength. Identical to
// sampling RenderSelection's or FinishSelection's results with the same brush. A sampling,
// mask or brush that does not fit the source gives an empty `out`.
void SampleSelection(const TBitmap32& source, const SelectionRule& rule, const TBitmap32* coverage,
                     const BrushOverlay* brush, bool showMask, const ViewSampling& sampling,
                     TBitmap32& out);

} // namespace tintavo
