#include "picture_plan.h"

#include <utility>

#include "edit_variant.h"
#include "host_messages.h"
#include "korvane/tintwell.h"
#include "picture_check.h"

namespace tintwell_cli {
namespace {

PicturePlan Refused(PicturePlan plan, Message reason, std::string_view hint) {
    plan.refusal = std::move(reason);
    plan.hint = hint;
    return plan;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> ReadPictureHead(InputFile& input, std::string& error) {
    const std::optional<std::vector<std::uint8_t>> first = input.ReadFirstBytes(kPictureHeaderSize, error);
    if (!first) return std::nullopt;
    return input.ReadFirstBytes(korvane::HeadBytesNeeded(*first), error);
}

PicturePlan PlanPicture(InputFile& input, std::int32_t function, bool to_24_bit) {
    PicturePlan plan;
    std::string error;
    std::optional<std::vector<std::uint8_t>> head = ReadPictureHead(input, error);
    if (!head) return Refused(std::move(plan), MessageOf(text::kInputUnreadable, error), {});
    PictureVerdict verdict = CheckPicture(*head, input.size());
    plan.head = std::move(*head);
    if (verdict.refusal) {
        return Refused(std::move(plan), MessageOf(text::kNotAPicture, *verdict.refusal), text::kConvertHint);
    }
    plan.variant = std::move(verdict.variant);
    if (!plan.variant) return plan;
    const korvane::BitmapVariant& variant = *plan.variant;
    if (variant.Rle()) {
        if (std::optional<Message> damaged = RleProblem(variant, input)) {
            return Refused(std::move(plan), std::move(*damaged), text::kConvertHint);
        }
    }
    // Noise gives each pixel a colour of its own: a palette cannot hold that.
    if (variant.Paletted() && function == TINTWELL_FUNCTION_NOISE && !to_24_bit) {
        return Refused(std::move(plan), MessageOf(text::kNoiseInPalette, variant.palette_entries), text::kNoiseHint);
    }
    // Written as a 24-bit picture, a palette's picture must fit the library's
    // one buffer like any other; checked before a byte of it is staged.
    if (variant.Paletted() && to_24_bit && !variant.FitsAs24Bit()) {
        return Refused(std::move(plan),
                       MessageOf(text::kNotAPicture, TooManyStagedRefusal()),
                       text::kConvertHint);
    }
    return plan;
}

}  // namespace tintwell_cli
