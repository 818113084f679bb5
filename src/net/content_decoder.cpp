#include "net/content_decoder.h"

#include <zlib.h>

#include <algorithm>
#include <string>

#ifdef TARNVELOX_HAVE_BROTLI
#include <brotli/decode.h>
#endif

#include "base/text_util.h"

namespace tarnvelox::net {

namespace {

// Output asked of the library in one call: first a few times the input (what text usually
// expands to), doubled while the output keeps filling, up to the most. The output vector grows
// by that much (and is cleared) before each call, never past the room, so that small pieces of
// input do not each cost the largest step.
constexpr std::size_t kExpansionGuess = 8;
constexpr std::size_t kMinDecodeStep = 4 * 1024;
constexpr std::size_t kMaxDecodeStep = 64 * 1024;
// zlib's largest window (32 KiB). Adding 32 lets inflate take a gzip or a zlib header alike;
// negating it reads raw deflate with no header at all.
constexpr int kWindowBits = 15;
constexpr int kAutoHeader = 32;

// What one call of a coding's library did.
enum class StepStatus {
    Progress,   // it stopped because its output was full, or it has more of its own to do
    NeedInput,  // all the input is taken and nothing more comes out of it
    End,        // the coded stream ended
    Error,      // the data is not valid in its coding
};

struct Step {
    std::size_t consumed = 0;  // input bytes taken
    std::size_t produced = 0;  // output bytes written
    StepStatus status = StepStatus::NeedInput;
};

// The room bookkeeping shared by every coding. A coding only says how it decodes one stretch
// of input into one stretch of output (step); this class keeps the output inside the room.
// When the room is used up it asks the coding for one more byte: if one comes, the room was
// really too small (Full) and that byte is held for a later call with more room; if none
// comes, the body fitted exactly and nothing is cut.
class StreamDecoder : public ContentDecoder {
  public:
    DecodeResult decode(std::string_view input, std::vector<char>& out, int64_t room) final {
        if (damaged_) return DecodeResult::Damaged;
        if (ended_) return DecodeResult::Ended;
        std::size_t left = room > 0 ? static_cast<std::size_t>(room) : 0;
        if (has_held_) {
            if (left == 0) return DecodeResult::Full;
            out.push_back(held_);
            has_held_ = false;
            --left;
        }
        std::size_t step_size =
            std::clamp(input.size() * kExpansionGuess, kMinDecodeStep, kMaxDecodeStep);
        for (;;) {
            Step s;
            if (left == 0) {
                char probe = 0;
                s = step(input, &probe, 1);
                if (s.produced == 1) {
                    held_ = probe;
                    has_held_ = true;
                    return DecodeResult::Full;
                }
            } else {
                const std::size_t old = out.size();
                const std::size_t ask = std::min(left, step_size);
                out.resize(old + ask);
                s = step(input, out.data() + old, ask);
                out.resize(old + s.produced);
                left -= s.produced;
                if (s.produced == ask) step_size = std::min(step_size * 2, kMaxDecodeStep);
            }
            input.remove_prefix(s.consumed);
            switch (s.status) {
                case StepStatus::Progress:
                    break;
                case StepStatus::NeedInput:
                    return DecodeResult::Ok;
                case StepStatus::End:
                    ended_ = true;
                    return DecodeResult::Ended;
                case StepStatus::Error:
                    damaged_ = true;
                    return DecodeResult::Damaged;
            }
        }
    }

    bool at_stream_end() const final { return ended_ || between_streams(); }

  protected:
    // Decodes from the front of `input` into `out` (`out_size` > 0 bytes free).
    virtual Step step(std::string_view input, char* out, std::size_t out_size) = 0;
    // A coded stream ended and the coding lets another follow (gzip members).
    [[nodiscard]] virtual bool between_streams() const { return false; }

  private:
    bool damaged_ = false;
    bool ended_ = false;
    bool has_held_ = false;
    char held_ = 0;  // the byte that showed the room was too small
};

// gzip and deflate through zlib. A gzip body may hold several members one after the other
// (what concatenated .gz files are): another member begins where one ends when its two magic
// bytes follow; anything else after a member is ignored. A deflate body is meant to be in the
// zlib format, but some servers send raw deflate: the first two bytes tell which.
class ZlibDecoder final : public StreamDecoder {
  public:
    explicit ZlibDecoder(bool gzip) : gzip_(gzip) {}
    ~ZlibDecoder() override {
        if (initialised_) inflateEnd(&zs_);
    }
    ZlibDecoder(const ZlibDecoder&) = delete;
    ZlibDecoder& operator=(const ZlibDecoder&) = delete;

  protected:
    bool between_streams() const override { return phase_ == Phase::BetweenMembers; }

    Step step(std::string_view input, char* out, std::size_t out_size) override {
        std::size_t taken = 0;
        if (phase_ != Phase::Stream) {
            // The two bytes that decide are gathered first; they may come in separate calls.
            while (lead_.size() < 2 && taken < input.size()) lead_ += input[taken++];
            if (lead_.size() < 2) return {taken, 0, StepStatus::NeedInput};
            if (phase_ == Phase::Start) {
                if (!start()) return {taken, 0, StepStatus::Error};
            } else if (lead_ == "\x1f\x8b") {
                if (inflateReset(&zs_) != Z_OK) return {taken, 0, StepStatus::Error};
            } else {
                return {taken, 0, StepStatus::End};
            }
            phase_ = Phase::Stream;
        }
        if (!lead_.empty()) {
            // The gathered bytes go to zlib before the rest of the input.
            Step s = inflate_some(lead_, out, out_size);
            lead_.erase(0, s.consumed);
            s.consumed = taken;
            if (s.status == StepStatus::NeedInput && !lead_.empty())
                s.status = StepStatus::Progress;
            if (s.status == StepStatus::NeedInput && taken < input.size()) {
                s.status = StepStatus::Progress;
            }
            return s;
        }
        Step s = inflate_some(input.substr(taken), out, out_size);
        s.consumed += taken;
        return s;
    }

  private:
    enum class Phase {
        Start,           // before the first two bytes of the body
        Stream,          // inside a coded stream
        BetweenMembers,  // a gzip member ended; another may follow
    };

    bool start() {
        int bits = kWindowBits + kAutoHeader;
        if (!gzip_) {
            // A zlib header: method 8 (deflate), window at most 32 KiB, and the two bytes
            // taken as one big-endian number a multiple of 31.
            const auto b0 = static_cast<unsigned char>(lead_[0]);
            const auto b1 = static_cast<unsigned char>(lead_[1]);
            const bool zlib_header =
                (b0 & 0x0f) == 8 && (b0 >> 4) <= 7 && (b0 * 256 + b1) % 31 == 0;
            bits = zlib_header ? kWindowBits : -kWindowBits;
        }
        zs_ = z_stream{};
        if (inflateInit2(&zs_, bits) != Z_OK) return false;
        initialised_ = true;
        return true;
    }

    Step inflate_some(std::string_view input, char* out, std::size_t out_size) {
        // zlib's sizes are 32-bit; a larger stretch is simply taken in several steps.
        const auto in_size = static_cast<uInt>(std::min<std::size_t>(input.size(), 1u << 30));
        zs_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
        zs_.avail_in = in_size;
        zs_.next_out = reinterpret_cast<Bytef*>(out);
        zs_.avail_out = static_cast<uInt>(std::min<std::size_t>(out_size, 1u << 30));
        const uInt out_before = zs_.avail_out;
        const int rc = inflate(&zs_, Z_NO_FLUSH);
        Step s;
        s.consumed = in_size - zs_.avail_in;
        s.produced = out_before - zs_.avail_out;
        if (rc == Z_STREAM_END) {
            if (gzip_) {
                phase_ = Phase::BetweenMembers;
                s.status = StepStatus::Progress;
            } else {
                s.status = StepStatus::End;
            }
        } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
            s.status = StepStatus::Error;
        } else if (zs_.avail_out == 0 || s.consumed < input.size()) {
            // Output full (more may be waiting inside zlib), or input left over.
            s.status = (zs_.avail_out == 0 || s.consumed > 0 || s.produced > 0)
                           ? StepStatus::Progress
                           : StepStatus::Error;
        } else {
            s.status = StepStatus::NeedInput;
        }
        return s;
    }

    bool gzip_;
    bool initialised_ = false;
    Phase phase_ = Phase::Start;
    std::string lead_;  // at most two bytes waiting for the decision above
    z_stream zs_{};
};

#ifdef TARNVELOX_HAVE_BROTLI
class BrotliDecoder final : public StreamDecoder {
  public:
    BrotliDecoder() : state_(BrotliDecoderCreateInstance(nullptr, nullptr, nullptr)) {}
    ~BrotliDecoder() override {
        if (state_ != nullptr) BrotliDecoderDestroyInstance(state_);
    }
    BrotliDecoder(const BrotliDecoder&) = delete;
    BrotliDecoder& operator=(const BrotliDecoder&) = delete;

  protected:
    Step step(std::string_view input, char* out, std::size_t out_size) override {
        if (state_ == nullptr) return {0, 0, StepStatus::Error};
        std::size_t avail_in = input.size();
        const auto* next_in = reinterpret_cast<const uint8_t*>(input.data());
        std::size_t avail_out = out_size;
        auto* next_out = reinterpret_cast<uint8_t*>(out);
        const BrotliDecoderResult rc = BrotliDecoderDecompressStream(
            state_, &avail_in, &next_in, &avail_out, &next_out, nullptr);
        Step s;
        s.consumed = input.size() - avail_in;
        s.produced = out_size - avail_out;
        switch (rc) {
            case BROTLI_DECODER_RESULT_SUCCESS:
                s.status = StepStatus::End;
                break;
            case BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT:
                // It says so as soon as the input is used up, even with decoded bytes still
                // waiting for room: those come out first.
                s.status = avail_out == 0 && BrotliDecoderHasMoreOutput(state_) != 0
                               ? StepStatus::Progress
                               : StepStatus::NeedInput;
                break;
            case BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT:
                // Only a full output stops it; anything else would go round for ever.
                s.status = avail_out == 0 ? StepStatus::Progress : StepStatus::Error;
                break;
            case BROTLI_DECODER_RESULT_ERROR:
                s.status = StepStatus::Error;
                break;
        }
        return s;
    }

  private:
    BrotliDecoderState* state_;
};
#endif

}  // namespace

ContentCoding coding_named(std::string_view content_encoding) {
    const std::string_view name = base::trimmed(content_encoding);
    if (base::equal_nocase(name, "gzip") || base::equal_nocase(name, "x-gzip")) {
        return ContentCoding::Gzip;
    }
    if (base::equal_nocase(name, "deflate")) return ContentCoding::Deflate;
    if (base::equal_nocase(name, "br") && brotli_available()) return ContentCoding::Brotli;
    return ContentCoding::Identity;
}

bool brotli_available() {
#ifdef TARNVELOX_HAVE_BROTLI
    return true;
#else
    return false;
#endif
}

std::string_view accept_encoding() {
    return brotli_available() ? "gzip, deflate, br" : "gzip, deflate";
}

std::unique_ptr<ContentDecoder> make_decoder(ContentCoding coding) {
    switch (coding) {
        case ContentCoding::Identity:
            return nullptr;
        case ContentCoding::Gzip:
            return std::make_unique<ZlibDecoder>(true);
        case ContentCoding::Deflate:
            return std::make_unique<ZlibDecoder>(false);
        case ContentCoding::Brotli:
#ifdef TARNVELOX_HAVE_BROTLI
            return std::make_unique<BrotliDecoder>();
#else
            return nullptr;
#endif
    }
    return nullptr;
}

}  // namespace tarnvelox::net
