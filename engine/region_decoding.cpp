// Decoding only the region of a photograph that a count reads, through the JPEG library directly.
//
// FreeImage decodes every pixel of a photograph, though a count with a REGION reads only the
// region's columns and rows. The JPEG library underneath it (libjpeg-turbo) can leave most of
// the rest out: jpeg_crop_scanline makes only the blocks around the region's columns into
// pixels, and jpeg_skip_scanlines passes over rows without their colour conversion and
// upsampling. Every block's data is still read from the file, so the library notices damage
// anywhere in the picture, as it does for FreeImage.
//
// The decode is set up exactly as FreeImage's JPEG reader sets it up (the library's fast integer
// transform, plain upsampling, its colour conversion to 24-bit blue-green-red or 8-bit grey,
// the resolution from the JFIF header), so the region's pixels are those of FreeImage's decode to
// the bit; the tests and fuzz_region_decode hold the two equal. It is taken only where the
// photograph is plainly whole: Huffman-coded, one or three components in YCbCr, not too large,
// its segments complete, and not one word from the decoder. Anything else, and any photograph the
// decode verdict would say a word about, is decoded whole by FreeImage as before, so refusals and
// warnings stay exactly what they were.

#include <csetjmp>
#include <cstdio>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "engine/decode_verdict.h"
#include "engine/preparation.h"

namespace lathmark {
namespace {

// An error manager that goes back to the decode on an error and keeps warnings to itself: the
// number of them is all that is looked at.
struct QuietErrors {
    jpeg_error_mgr manager;
    std::jmp_buf back;
};

[[noreturn]] void backToDecode(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<QuietErrors*>(cinfo->err)->back, 1);
}

void keepQuiet(j_common_ptr) {}

// The library's side of the decode. Only plain values live here: the library goes back to the
// setjmp below on an error, past any frame in between.
enum class Outcome { Decoded, NotTaken };

Outcome decodeRegionRows(jpeg_decompress_struct& cinfo, QuietErrors& errors,
                         const std::vector<std::uint8_t>& data, const Region& region,
                         Bitmap& picture, int& leftInPicture, std::vector<JSAMPLE>& strip,
                         std::vector<JSAMPROW>& rows) {
    if (setjmp(errors.back)) return Outcome::NotTaken;
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) return Outcome::NotTaken;
    const bool colour = cinfo.jpeg_color_space == JCS_YCbCr && cinfo.num_components == 3;
    const bool grey = cinfo.jpeg_color_space == JCS_GRAYSCALE && cinfo.num_components == 1;
    if (!colour && !grey) return Outcome::NotTaken;
    if (!region.fits(static_cast<int>(cinfo.image_width), static_cast<int>(cinfo.image_height)))
        return Outcome::NotTaken;
    // FreeImage's reader: fast transform, plain upsampling; colour comes as red-green-blue and
    // FreeImage swaps it to blue-green-red, which the library can write at once.
    cinfo.dct_method = JDCT_IFAST;
    cinfo.do_fancy_upsampling = FALSE;
    if (colour) cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    const int components = cinfo.output_components;

    // The library widens the columns to whole blocks; the picture is as wide as that, and the
    // region lies in it from `leftInPicture`, so that rows go straight into it.
    auto left = static_cast<JDIMENSION>(region.left);
    auto width = static_cast<JDIMENSION>(region.width);
    jpeg_crop_scanline(&cinfo, &left, &width);
    leftInPicture = region.left - static_cast<int>(left);
    strip.resize(static_cast<std::size_t>(width) * components);
    const auto pictureWidth = static_cast<int>(width);
    picture.reset(colour ? FreeImage_Allocate(pictureWidth, region.height, 24, FI_RGBA_RED_MASK,
                                              FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK)
                         : FreeImage_Allocate(pictureWidth, region.height, 8));
    if (!picture) return Outcome::NotTaken;
    if (cinfo.density_unit == 1) {  // dots per inch, as FreeImage reads them (over a double)
        FreeImage_SetDotsPerMeterX(
            picture.get(),
            static_cast<unsigned>(static_cast<float>(cinfo.X_density) / 0.0254 + 0.5));
        FreeImage_SetDotsPerMeterY(
            picture.get(),
            static_cast<unsigned>(static_cast<float>(cinfo.Y_density) / 0.0254 + 0.5));
    } else if (cinfo.density_unit == 2) {  // dots per centimetre
        FreeImage_SetDotsPerMeterX(picture.get(), cinfo.X_density * 100u);
        FreeImage_SetDotsPerMeterY(picture.get(), cinfo.Y_density * 100u);
    }

    // Rows are skipped only from the start of one row of blocks to the start of another: a
    // skip that begins or ends within one upsamples wrongly in this version of the library (or
    // never ends), where two rows of pixels are made at once from one row of colour samples.
    // A skip that reaches the last row reads no more data, so the last row of blocks is read.
    const JDIMENSION blockRows =
        static_cast<JDIMENSION>(cinfo.max_v_samp_factor * cinfo.min_DCT_scaled_size);
    const JDIMENSION height = cinfo.output_height;
    JSAMPROW row = strip.data();
    const auto readTo = [&cinfo, &row](JDIMENSION end) {
        while (cinfo.output_scanline < end)
            if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) return false;
        return true;
    };
    const auto skipTo = [&cinfo](JDIMENSION end) {
        const JDIMENSION lines = end - cinfo.output_scanline;
        return end <= cinfo.output_scanline || jpeg_skip_scanlines(&cinfo, lines) == lines;
    };
    const auto top = static_cast<JDIMENSION>(region.top);
    if (!skipTo(top - top % blockRows) || !readTo(top)) return Outcome::NotTaken;
    // The region's rows, top first, into the picture's scanlines (the bottom one first).
    const Scanlines to(picture.get());
    rows.resize(static_cast<std::size_t>(region.height));
    for (int y = 0; y < region.height; ++y)
        rows[static_cast<std::size_t>(y)] = to(region.height - 1 - y);
    const auto regionRows = static_cast<JDIMENSION>(region.height);
    for (JDIMENSION done = 0; done < regionRows;) {
        const JDIMENSION read = jpeg_read_scanlines(&cinfo, rows.data() + done, regionRows - done);
        if (read == 0) return Outcome::NotTaken;
        done += read;
    }
    // The rest of the picture's data is read all the same, for the library to notice any damage
    // in it, as it does when FreeImage decodes the whole photograph.
    const JDIMENSION lastBlockRow = (height - 1) - (height - 1) % blockRows;
    const JDIMENSION nextBlockRow = (cinfo.output_scanline + blockRows - 1) / blockRows * blockRows;
    if (nextBlockRow < lastBlockRow && (!readTo(nextBlockRow) || !skipTo(lastBlockRow)))
        return Outcome::NotTaken;
    if (!readTo(height)) return Outcome::NotTaken;
    jpeg_finish_decompress(&cinfo);
    return Outcome::Decoded;
}

}  // namespace

std::optional<DecodedRegion> decodeJpegRegion(const JpegPhotograph& photograph,
                                              const Region& region, PixelBudget::Share* share) {
    const JpegWithoutMetadata& jpeg = photograph.jpeg;
    if (region.width <= 0 || region.height <= 0 || region.left < 0 || region.top < 0)
        return std::nullopt;
    // Only a photograph whose verdict could be no other than "whole, nothing to say" from its
    // segments alone; the decoder's words are looked at after the decode.
    if (!jpeg.hasFrame || jpeg.arithmetic || jpeg.scans > kMaxScans ||
        static_cast<std::uint64_t>(jpeg.width) * static_cast<std::uint64_t>(jpeg.height) >
            kMaxPhotographPixels ||
        !region.fits(jpeg.width, jpeg.height))
        return std::nullopt;
    DecodeFacts facts;
    facts.ending = jpeg.ending;
    facts.hasFrame = jpeg.hasFrame;
    facts.scansComplete = jpeg.scansComplete;
    facts.decoded = true;
    const DecodeVerdict verdict = judgeDecode(facts);
    if (verdict.refusal || !verdict.warning.empty()) return std::nullopt;
    if (share) share->take(jpeg.width, jpeg.height);

    jpeg_decompress_struct cinfo{};
    QuietErrors errors{};
    cinfo.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = backToDecode;
    errors.manager.output_message = keepQuiet;
    DecodedRegion decoded;
    std::vector<JSAMPLE> strip;
    std::vector<JSAMPROW> rows;
    int leftInPicture = 0;
    const Outcome outcome = decodeRegionRows(cinfo, errors, jpeg.data, region, decoded.picture,
                                             leftInPicture, strip, rows);
    decoded.region = Region{leftInPicture, 0, region.width, region.height};
    const bool heardNothing = errors.manager.num_warnings == 0;
    decoded.photographWidth = static_cast<int>(cinfo.image_width);
    decoded.photographHeight = static_cast<int>(cinfo.image_height);
    jpeg_destroy_decompress(&cinfo);
    if (outcome != Outcome::Decoded || !heardNothing) return std::nullopt;
    decoded.warning = orientationWarning(jpeg.orientation);
    return decoded;
}

}  // namespace lathmark
