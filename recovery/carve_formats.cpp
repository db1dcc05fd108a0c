#include "recovery/carve_formats.h"

#include "disk/crc32.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

uint16_t Be16(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint16_t>(b[at] << 8 | b[at + 1]);
}
uint32_t Be32(std::span<const uint8_t> b, size_t at) {
  return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
}
uint64_t Be64(std::span<const uint8_t> b, size_t at) {
  return uint64_t{Be32(b, at)} << 32 | Be32(b, at + 4);
}
uint16_t Le16(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
uint32_t Le32(std::span<const uint8_t> b, size_t at) {
  return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
         uint32_t{b[at + 3]} << 24;
}
uint64_t Le64(std::span<const uint8_t> b, size_t at) {
  return uint64_t{Le32(b, at)} | uint64_t{Le32(b, at + 4)} << 32;
}

bool Starts(std::span<const uint8_t> b, std::string_view s) {
  return b.size() >= s.size() && std::memcmp(b.data(), s.data(), s.size()) == 0;
}

// Finds a fixed pattern in bytes that come a piece at a time (a match may
// straddle two pieces).
class PatternFinder {
 public:
  explicit PatternFinder(std::string_view pattern) : pattern_(pattern), fail_(pattern.size(), 0) {
    for (size_t i = 1, k = 0; i < pattern_.size(); ++i) {
      while (k > 0 && pattern_[i] != pattern_[k]) k = fail_[k - 1];
      if (pattern_[i] == pattern_[k]) ++k;
      fail_[i] = k;
    }
  }
  // The offset just past the first match in bytes, or npos (all taken).
  size_t Find(std::span<const uint8_t> bytes) {
    const auto first = static_cast<uint8_t>(pattern_[0]);
    size_t i = 0;
    while (i < bytes.size()) {
      if (matched_ == 0) {
        const void* p = std::memchr(bytes.data() + i, first, bytes.size() - i);
        if (p == nullptr) return npos;
        i = static_cast<size_t>(static_cast<const uint8_t*>(p) - bytes.data());
      }
      const auto b = static_cast<char>(bytes[i]);
      while (matched_ > 0 && b != pattern_[matched_]) matched_ = fail_[matched_ - 1];
      if (b == pattern_[matched_]) ++matched_;
      ++i;
      if (matched_ == pattern_.size()) {
        matched_ = 0;
        return i;
      }
    }
    return npos;
  }
  void Reset() { matched_ = 0; }
  static constexpr size_t npos = SIZE_MAX;

 private:
  std::string_view pattern_;
  std::vector<size_t> fail_;
  size_t matched_ = 0;
};

}  // namespace

// The walker's loop: requests are served from the bytes as they come.
void FormatWalker::Need(size_t n) {
  if (n == 0 || n > kMostNeed) {
    BreakAt(pos_);
    return;
  }
  mode_ = Mode::Need;
  need_ = n;
  have_ = 0;
}

void FormatWalker::Skip(uint64_t n) {
  skip_ = n;
  mode_ = n == 0 ? Mode::Idle : Mode::Skip;
  again_ = n == 0;
}

void FormatWalker::Scan() { mode_ = Mode::Scan; }

void FormatWalker::Pause() {
  mode_ = Mode::Idle;
  again_ = true;
}

void FormatWalker::EndAt(uint64_t at) {
  mode_ = Mode::Done;
  step_ = {WalkStatus::Ended, at};
}

void FormatWalker::BreakAt(uint64_t at) {
  mode_ = Mode::Done;
  step_ = {WalkStatus::Broken, at};
}

size_t FormatWalker::EndPastMark(size_t pastMark, size_t scanned) {
  if (pastMark == SIZE_MAX) return scanned;
  EndAt(pos_ + pastMark);
  return pastMark;
}

size_t FormatWalker::OnScan(std::span<const uint8_t>) {
  Break();
  return 0;
}

void FormatWalker::Lost(uint64_t holeStart) { BreakAt(holeStart); }

void FormatWalker::RunIdle(std::span<const uint8_t> got) {
  // A walker answers every call with a request; one that makes none is
  // stopped rather than asked again without end.
  for (int round = 0; mode_ == Mode::Idle; ++round) {
    again_ = false;
    Advance(got);
    got = {};
    if (mode_ == Mode::Idle && (!again_ || round > 64)) BreakAt(pos_);
  }
}

WalkStep FormatWalker::Feed(std::span<const uint8_t> bytes) {
  if (!started_) {
    started_ = true;
    RunIdle({});
  }
  size_t i = 0;
  while (mode_ != Mode::Done) {
    if (mode_ == Mode::Idle) {
      RunIdle({});
      continue;
    }
    if (i == bytes.size()) break;
    const size_t left = bytes.size() - i;
    switch (mode_) {
      case Mode::Need: {
        const size_t t = std::min(need_ - have_, left);
        std::memcpy(buffer_ + have_, bytes.data() + i, t);
        have_ += t;
        i += t;
        pos_ += t;
        if (have_ == need_) {
          mode_ = Mode::Idle;
          RunIdle({buffer_, need_});
        }
        break;
      }
      case Mode::Skip: {
        const size_t t = static_cast<size_t>(std::min<uint64_t>(skip_, left));
        Skipped(bytes.subspan(i, t));
        skip_ -= t;
        i += t;
        pos_ += t;
        if (skip_ == 0) mode_ = Mode::Idle;
        break;
      }
      case Mode::Scan: {
        const size_t t = std::min(OnScan(bytes.subspan(i)), left);
        i += t;
        pos_ += t;
        if (t == 0 && mode_ == Mode::Scan) BreakAt(pos_);
        break;
      }
      case Mode::Idle:
      case Mode::Done: break;
    }
  }
  return step_;
}

WalkStep FormatWalker::Unknown(uint64_t n) {
  if (!started_) {
    started_ = true;
    RunIdle({});
  }
  while (n > 0 && mode_ != Mode::Done) {
    if (mode_ == Mode::Idle) {
      RunIdle({});
      continue;
    }
    if (mode_ == Mode::Skip) {
      const uint64_t t = std::min(skip_, n);
      skip_ -= t;
      n -= t;
      pos_ += t;
      if (skip_ == 0) mode_ = Mode::Idle;
      continue;
    }
    // The hole falls where the structure itself had to be read.
    const uint64_t holeStart = pos_ - (mode_ == Mode::Need ? have_ : 0);
    pos_ += n;
    n = 0;
    mode_ = Mode::Idle;
    again_ = false;
    Lost(holeStart);
    if (mode_ == Mode::Idle && !again_) BreakAt(holeStart);
  }
  return step_;
}

namespace {

// JPEG: SOI, then segments by their lengths; after SOS the entropy-coded
// data, where 0xFF is followed by 0 (a stuffed byte), a restart marker or
// fill - anything else is the next marker. EOI ends the picture; an EOI
// inside a segment (an EXIF thumbnail's) is passed over with the segment.
class JpegWalker final : public FormatWalker {
 public:
  bool Confirmed() const override { return sos_; }
  std::string Extension() const override { return "jpg"; }

 private:
  enum class Step { Start, Soi, NextMarker, Marker, Fill, GotMarker, Length, SosLength, Entropy };

  void Advance(std::span<const uint8_t> got) override {
    switch (step_) {
      case Step::Start: step_ = Step::Soi; Need(2); return;
      case Step::Soi:
        if (got[0] != 0xFF || got[1] != 0xD8) return BreakAt(0);
        step_ = Step::NextMarker;
        Pause();
        return;
      case Step::NextMarker: step_ = Step::Marker; Need(2); return;
      case Step::Marker:
        if (got[0] != 0xFF) return BreakAt(pos_ - 2);
        return Marker(got[1]);
      case Step::Fill: return Marker(got[0]);
      case Step::GotMarker: return Marker(marker_);
      case Step::Length: {
        const uint16_t length = Be16(got, 0);
        if (length < 2) return BreakAt(pos_ - 4);
        step_ = Step::NextMarker;
        Skip(length - 2u);
        return;
      }
      case Step::SosLength: {
        const uint16_t length = Be16(got, 0);
        if (length < 6 || !sof_) return BreakAt(pos_ - 4);
        sos_ = true;
        step_ = Step::Entropy;
        Skip(length - 2u);
        return;
      }
      case Step::Entropy: Scan(); return;
    }
  }

  void Marker(uint8_t m) {
    if (m == 0xFF) {
      if (++fills_ > 4096) return Break();
      step_ = Step::Fill;
      Need(1);
      return;
    }
    fills_ = 0;
    if (m == 0xD9) {
      if (sos_) End();
      else BreakAt(pos_ - 2);
      return;
    }
    if (m == 0xD8 || (m < 0xC0 && m != 0x01)) return BreakAt(pos_ - 2);
    if (m == 0x01 || (m >= 0xD0 && m <= 0xD7)) {
      step_ = Step::NextMarker;
      Pause();
      return;
    }
    if (m == 0xDA) {
      step_ = Step::SosLength;
      Need(2);
      return;
    }
    if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) sof_ = true;
    step_ = Step::Length;
    Need(2);
  }

  size_t OnScan(std::span<const uint8_t> bytes) override {
    if (resync_) {
      return EndPastMark(eoi_.Find(bytes), bytes.size());
    }
    const size_t n = bytes.size();
    size_t i = 0;
    if (pendingFF_) {
      pendingFF_ = false;
      const uint8_t b = bytes[0];
      if (b == 0xFF) {
        pendingFF_ = true;
        return 1;
      }
      if (b != 0 && !(b >= 0xD0 && b <= 0xD7)) {
        marker_ = b;
        step_ = Step::GotMarker;
        Pause();
        return 1;
      }
      i = 1;
    }
    while (i < n) {
      const void* p = std::memchr(bytes.data() + i, 0xFF, n - i);
      if (p == nullptr) return n;
      const size_t at = static_cast<size_t>(static_cast<const uint8_t*>(p) - bytes.data());
      if (at + 1 == n) {
        pendingFF_ = true;
        return n;
      }
      const uint8_t b = bytes[at + 1];
      if (b == 0 || (b >= 0xD0 && b <= 0xD7)) {
        i = at + 2;
      } else if (b == 0xFF) {
        i = at + 1;
      } else {
        marker_ = b;
        step_ = Step::GotMarker;
        Pause();
        return at + 2;
      }
    }
    return n;
  }

  void Lost(uint64_t holeStart) override {
    if (!sos_) return BreakAt(holeStart);
    // What the hole held is unknown: only the picture's end is looked for.
    resync_ = true;
    pendingFF_ = false;
    step_ = Step::Entropy;
    Scan();
  }

  Step step_ = Step::Start;
  bool sof_ = false;
  bool sos_ = false;
  bool pendingFF_ = false;
  bool resync_ = false;
  int fills_ = 0;
  uint8_t marker_ = 0;
  PatternFinder eoi_{"\xFF\xD9"};
};

// PNG: the signature, IHDR first, then chunks by their lengths (and, when
// strict, their CRCs) up to IEND's CRC.
class PngWalker final : public FormatWalker {
 public:
  explicit PngWalker(bool strict) : strict_(strict) {}
  bool Confirmed() const override { return chunks_ > 0; }
  std::string Extension() const override { return "png"; }

 private:
  enum class Step { Start, Signature, ChunkHead, AfterData, Crc, Resync };

  void Advance(std::span<const uint8_t> got) override {
    switch (step_) {
      case Step::Start: step_ = Step::Signature; Need(8); return;
      case Step::Signature:
        if (!Starts(got, "\x89PNG\r\n\x1A\n")) return BreakAt(0);
        step_ = Step::ChunkHead;
        Need(8);
        return;
      case Step::ChunkHead: {
        chunkStart_ = pos_ - 8;
        const uint32_t length = Be32(got, 0);
        const auto type = got.subspan(4, 4);
        for (uint8_t c : type)
          if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return BreakAt(chunkStart_);
        if (length > 0x7FFFFFFF) return BreakAt(chunkStart_);
        if (chunks_ == 0 && (!Starts(type, "IHDR") || length != 13)) return BreakAt(chunkStart_);
        ++chunks_;
        iend_ = Starts(type, "IEND");
        if (strict_) crc_ = Crc32(type);
        step_ = Step::AfterData;
        Skip(length);
        return;
      }
      case Step::AfterData: step_ = Step::Crc; Need(4); return;
      case Step::Crc:
        if (strict_ && Be32(got, 0) != crc_) return BreakAt(chunkStart_);
        if (iend_) return End();
        step_ = Step::ChunkHead;
        Need(8);
        return;
      case Step::Resync: Scan(); return;
    }
  }

  void Skipped(std::span<const uint8_t> bytes) override {
    if (strict_) crc_ = Crc32(bytes, crc_);
  }

  size_t OnScan(std::span<const uint8_t> bytes) override {
    return EndPastMark(iendFinder_.Find(bytes), bytes.size());
  }

  void Lost(uint64_t holeStart) override {
    if (chunks_ == 0 || strict_) return BreakAt(holeStart);
    // The image's last chunk and its fixed CRC end it.
    step_ = Step::Resync;
    Scan();
  }

  bool strict_;
  Step step_ = Step::Start;
  uint32_t chunks_ = 0;
  bool iend_ = false;
  uint32_t crc_ = 0;
  uint64_t chunkStart_ = 0;
  PatternFinder iendFinder_{std::string_view("IEND\xAE\x42\x60\x82", 8)};
};

// GIF: header and screen, the global colour table, then extensions and
// images whose data come in sub-blocks, to the trailer 0x3B.
class GifWalker final : public FormatWalker {
 public:
  bool Confirmed() const override { return images_ > 0; }
  std::string Extension() const override { return "gif"; }

 private:
  enum class Step { Start, Screen, NextIntroducer, Introducer, ExtLabel, Descriptor, NextLzw,
                    LzwMin, SubLen, NextSubLen, Resync };

  static uint32_t ColourTable(uint8_t flags) {
    return (flags & 0x80) ? 3u << ((flags & 7) + 1) : 0;
  }

  void Advance(std::span<const uint8_t> got) override {
    switch (step_) {
      case Step::Start: step_ = Step::Screen; Need(13); return;
      case Step::Screen:
        if (!Starts(got, "GIF87a") && !Starts(got, "GIF89a")) return BreakAt(0);
        if (Le16(got, 6) == 0 || Le16(got, 8) == 0) return BreakAt(0);
        step_ = Step::NextIntroducer;
        Skip(ColourTable(got[10]));
        return;
      case Step::NextIntroducer: step_ = Step::Introducer; Need(1); return;
      case Step::Introducer:
        switch (got[0]) {
          case 0x21: step_ = Step::ExtLabel; Need(1); return;
          case 0x2C: step_ = Step::Descriptor; Need(9); return;
          case 0x3B:
            if (images_ > 0) End();
            else BreakAt(pos_ - 1);
            return;
          default: return BreakAt(pos_ - 1);
        }
      case Step::ExtLabel: step_ = Step::SubLen; Need(1); return;
      case Step::Descriptor:
        if (Le16(got, 4) == 0 || Le16(got, 6) == 0) return BreakAt(pos_ - 10);
        ++images_;
        step_ = Step::NextLzw;
        Skip(ColourTable(got[8]));
        return;
      case Step::NextLzw: step_ = Step::LzwMin; Need(1); return;
      case Step::LzwMin:
        if (got[0] < 1 || got[0] > 11) return BreakAt(pos_ - 1);
        step_ = Step::SubLen;
        Need(1);
        return;
      case Step::SubLen:
        if (got[0] == 0) {
          step_ = Step::Introducer;
          Need(1);
          return;
        }
        step_ = Step::NextSubLen;
        Skip(got[0]);
        return;
      case Step::NextSubLen: step_ = Step::SubLen; Need(1); return;
      case Step::Resync: Scan(); return;
    }
  }

  size_t OnScan(std::span<const uint8_t> bytes) override {
    return EndPastMark(trailer_.Find(bytes), bytes.size());
  }

  void Lost(uint64_t holeStart) override {
    if (images_ == 0) return BreakAt(holeStart);
    // The last block's terminator and the trailer end it.
    step_ = Step::Resync;
    Scan();
  }

  Step step_ = Step::Start;
  uint32_t images_ = 0;
  PatternFinder trailer_{std::string_view("\x00\x3B", 2)};
};

// PDF: everything up to the last %%EOF that an update follows no more. After
// a %%EOF (and its end of line) an incremental update goes on with an
// object, a cross-reference or a comment; zeros, or anything else, mean the
// file ended there.
class PdfWalker final : public FormatWalker {
 public:
  bool Confirmed() const override { return true; }
  std::string Extension() const override { return "pdf"; }
  std::optional<uint64_t> EndIfCut() const override { return lastEof_; }

 private:
  enum class Step { Start, Head, Body };

  void Advance(std::span<const uint8_t> got) override {
    switch (step_) {
      case Step::Start: step_ = Step::Head; Need(8); return;
      case Step::Head:
        if (!Starts(got, "%PDF-") || got[5] < '1' || got[5] > '9' || got[6] != '.' ||
            got[7] < '0' || got[7] > '9')
          return BreakAt(0);
        step_ = Step::Body;
        Scan();
        return;
      case Step::Body: Scan(); return;
    }
  }

  size_t OnScan(std::span<const uint8_t> bytes) override {
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
      if (!afterEof_) {
        const size_t k = eof_.Find(bytes.subspan(i));
        if (k == PatternFinder::npos) return n;
        i += k;
        afterEof_ = true;
        eol_ = 0;
        blanks_ = 0;
        lastEof_ = pos_ + i;
        continue;
      }
      const uint8_t b = bytes[i];
      if (eol_ == 0 && b == '\r') {
        eol_ = 1;
        lastEof_ = *lastEof_ + 1;
        ++i;
      } else if (eol_ < 2 && b == '\n') {
        eol_ = 2;
        lastEof_ = *lastEof_ + 1;
        ++i;
      } else if (b == ' ' || b == '\t' || b == '\r' || b == '\n' || b == '\f') {
        eol_ = 2;
        if (++blanks_ > 256) {
          EndAt(*lastEof_);
          return i;
        }
        ++i;
      } else if ((b >= '0' && b <= '9') || b == '%' || b == 'x') {
        afterEof_ = false;  // an update goes on; b is looked at again
      } else {
        EndAt(*lastEof_);
        return i;
      }
    }
    return n;
  }

  void Lost(uint64_t) override {
    // The search for %%EOF goes on past what could not be read.
    afterEof_ = false;
    eof_.Reset();
    Scan();
  }

  Step step_ = Step::Start;
  bool afterEof_ = false;
  int eol_ = 0;
  int blanks_ = 0;
  std::optional<uint64_t> lastEof_;
  PatternFinder eof_{"%%EOF"};
};

// ZIP: local headers with their data (by size, or up to a data descriptor
// whose size agrees), the central directory, the ZIP64 records, and the
// end-of-central-directory record with its comment. The names of the first
// entries tell the office and Java formats built on it.
class ZipWalker final : public FormatWalker {
 public:
  explicit ZipWalker(bool strict) : strict_(strict) {}
  bool Confirmed() const override { return locals_ > 0; }
  std::string Extension() const override {
    if (Starts(mime_, "application/vnd.oasis.opendocument.text")) return "odt";
    if (Starts(mime_, "application/vnd.oasis.opendocument.spreadsheet")) return "ods";
    if (Starts(mime_, "application/vnd.oasis.opendocument.presentation")) return "odp";
    if (Starts(mime_, "application/epub+zip")) return "epub";
    if (contentTypes_ && word_) return "docx";
    if (contentTypes_ && xl_) return "xlsx";
    if (contentTypes_ && ppt_) return "pptx";
    if (manifest_) return "jar";
    return "zip";
  }

 private:
  enum class Step { Start, NextSig, Sig, Local, Name, NameRest, ExtraNext, ExtraHead, ExtraBody, Data, Mime,
                    Descriptor, Central, Eocd, EocdDone, Zip64Size, SkipLength2, SkipLength4,
                    ResyncEocd };

  static bool Starts(const std::string& s, std::string_view p) { return s.rfind(p, 0) == 0; }

  void Advance(std::span<const uint8_t> got) override {
    switch (step_) {
      case Step::Start:
      case Step::NextSig: step_ = Step::Sig; Need(4); return;
      case Step::Sig: return Signature(Le32(got, 0));
      case Step::Local: {
        if (centrals_ > 0) return BreakAt(recordStart_);
        flags_ = Le16(got, 2);
        const uint16_t method = Le16(got, 4);
        compressed_ = Le32(got, 14);
        nameLength_ = Le16(got, 22);
        extraLength_ = Le16(got, 24);
        if (nameLength_ == 0 || method > 99) return BreakAt(recordStart_);
        stored_ = method == 0;
        zip64_ = false;
        step_ = Step::Name;
        Need(std::min<size_t>(nameLength_, kMostNeed));
        return;
      }
      case Step::Name:
        Named(std::string(reinterpret_cast<const char*>(got.data()), got.size()));
        step_ = Step::NameRest;
        Skip(nameLength_ - got.size());
        return;
      case Step::NameRest:
        if (compressed_ == 0xFFFFFFFF) {
          step_ = Step::ExtraNext;
          Pause();
          return;
        }
        step_ = Step::Data;
        Skip(extraLength_);
        return;
      case Step::ExtraNext:
        // A ZIP64 entry keeps its sizes in extra field 1.
        if (extraLength_ < 4) {
          step_ = Step::Data;
          Skip(extraLength_);
          extraLength_ = 0;
          return;
        }
        step_ = Step::ExtraHead;
        Need(4);
        return;
      case Step::ExtraHead: {
        extraLength_ -= 4;
        const uint16_t length = std::min<uint16_t>(Le16(got, 2), extraLength_);
        extraLength_ -= length;
        if (Le16(got, 0) == 1 && length >= 16) {
          fieldRest_ = length - 16;
          step_ = Step::ExtraBody;
          Need(16);
          return;
        }
        step_ = Step::ExtraNext;
        Skip(length);
        return;
      }
      case Step::ExtraBody:
        compressed_ = Le64(got, 8);
        zip64_ = true;
        step_ = Step::ExtraNext;
        Skip(fieldRest_);
        return;
      case Step::Data:
        ++locals_;
        if ((flags_ & 8) && compressed_ == 0) {
          dataStart_ = pos_;
          descriptor_.Reset();
          Scan();
          return;
        }
        if (locals_ == 1 && firstName_ == "mimetype" && stored_ && compressed_ > 0 &&
            compressed_ <= kMostNeed) {
          step_ = Step::Mime;
          Need(static_cast<size_t>(compressed_));
          return;
        }
        step_ = Step::NextSig;
        Skip(compressed_);
        return;
      case Step::Mime:
        mime_.assign(reinterpret_cast<const char*>(got.data()), got.size());
        step_ = Step::NextSig;
        Pause();
        return;
      case Step::Descriptor: {
        // crc, compressed size, size: the size must be the data's length.
        const uint64_t length = descriptorAt_ - dataStart_;
        const uint64_t claimed = zip64_ ? Le64(got, 4) : Le32(got, 4);
        if (claimed == (zip64_ ? length : (length & 0xFFFFFFFF))) {
          step_ = Step::NextSig;
          Pause();
          return;
        }
        step_ = Step::Data;  // a signature inside the data: look on
        Scan();
        return;
      }
      case Step::Central:
        ++centrals_;
        step_ = Step::NextSig;
        Skip(uint64_t{Le16(got, 24)} + Le16(got, 26) + Le16(got, 28));
        return;
      case Step::Eocd:
      case Step::ResyncEocd: {
        const uint32_t size = Le32(got, 8);
        const uint32_t offset = Le32(got, 12);
        const bool agrees = offset == 0xFFFFFFFF || uint64_t{offset} + size == recordStart_;
        if (!agrees && (strict_ || step_ == Step::ResyncEocd)) {
          if (step_ == Step::Eocd) return BreakAt(recordStart_);
          Scan();  // not this archive's record: look on
          return;
        }
        step_ = Step::EocdDone;
        Skip(Le16(got, 16));
        return;
      }
      case Step::EocdDone: End(); return;
      case Step::Zip64Size: {
        const uint64_t size = Le64(got, 0);
        if (size < 44 || size > (1u << 20)) return BreakAt(recordStart_);
        step_ = Step::NextSig;
        Skip(size);
        return;
      }
      case Step::SkipLength2: step_ = Step::NextSig; Skip(Le16(got, 0)); return;
      case Step::SkipLength4: step_ = Step::NextSig; Skip(Le32(got, 0)); return;
    }
  }

  void Signature(uint32_t sig) {
    recordStart_ = pos_ - 4;
    switch (sig) {
      case 0x04034b50: step_ = Step::Local; Need(26); return;
      case 0x02014b50:
        if (locals_ == 0) return BreakAt(recordStart_);
        step_ = Step::Central;
        Need(42);
        return;
      case 0x06054b50: step_ = Step::Eocd; Need(18); return;
      case 0x06064b50: step_ = Step::Zip64Size; Need(8); return;
      case 0x07064b50: step_ = Step::NextSig; Skip(16); return;
      case 0x05054b50: step_ = Step::SkipLength2; Need(2); return;
      case 0x08064b50: step_ = Step::SkipLength4; Need(4); return;
      default: BreakAt(recordStart_);
    }
  }

  void Named(const std::string& name) {
    if (locals_ == 0) firstName_ = name;
    if (name == "[Content_Types].xml") contentTypes_ = true;
    if (name.rfind("word/", 0) == 0) word_ = true;
    if (name.rfind("xl/", 0) == 0) xl_ = true;
    if (name.rfind("ppt/", 0) == 0) ppt_ = true;
    if (name == "META-INF/MANIFEST.MF") manifest_ = true;
  }

  size_t OnScan(std::span<const uint8_t> bytes) override {
    if (step_ == Step::ResyncEocd) {
      const size_t k = eocd_.Find(bytes);
      if (k == PatternFinder::npos) return bytes.size();
      recordStart_ = pos_ + k - 4;
      Need(18);
      return k;
    }
    const size_t k = descriptor_.Find(bytes);
    if (k == PatternFinder::npos) return bytes.size();
    descriptorAt_ = pos_ + k - 4;
    step_ = Step::Descriptor;
    Need(zip64_ ? 20 : 12);
    return k;
  }

  void Lost(uint64_t holeStart) override {
    if (locals_ == 0 || strict_) return BreakAt(holeStart);
    // The end record, where its directory's place agrees, ends it.
    step_ = Step::ResyncEocd;
    eocd_.Reset();
    Scan();
  }

  bool strict_;
  Step step_ = Step::Start;
  uint64_t recordStart_ = 0;
  uint16_t flags_ = 0;
  uint64_t compressed_ = 0;
  uint16_t nameLength_ = 0;
  uint16_t extraLength_ = 0;
  uint16_t fieldRest_ = 0;
  bool stored_ = false;
  bool zip64_ = false;
  uint64_t dataStart_ = 0;
  uint64_t descriptorAt_ = 0;
  uint32_t locals_ = 0;
  uint32_t centrals_ = 0;
  std::string firstName_;
  std::string mime_;
  bool contentTypes_ = false, word_ = false, xl_ = false, ppt_ = false, manifest_ = false;
  PatternFinder descriptor_{std::string_view("PK\x07\x08", 4)};
  PatternFinder eocd_{std::string_view("PK\x05\x06", 4)};
};

// MP4 and QuickTime: top-level boxes by their sizes (32-bit, or 64-bit when
// the size is 1), each of a known type. The movie ends after the last sound
// box once a moov (or a fragment's moof) was seen.
class Mp4Walker final : public FormatWalker {
 public:
  bool Confirmed() const override { return boxes_ >= 2; }
  std::string Extension() const override {
    if (!ftyp_) return "mov";
    if (Starts(brand_, "qt  ")) return "mov";
    if (Starts(brand_, "M4A ")) return "m4a";
    if (Starts(brand_, "3gp") || Starts(brand_, "3g2")) return "3gp";
    return "mp4";
  }
  std::optional<uint64_t> EndIfCut() const override {
    // Only between boxes: inside one, its end is still to come.
    if (step_ == Step::Box && pos_ >= boxStart_ && (moov_ || moof_) && boxes_ >= 2) return boxStart_;
    return std::nullopt;
  }

  static bool KnownBox(std::span<const uint8_t> type) {
    static constexpr std::string_view kTypes[] = {
        "ftyp", "moov", "mdat", "free", "skip", "wide", "pnot", "uuid", "meta", "moof",
        "mfra", "sidx", "styp", "pdin", "prft", "emsg", "ssix", "udta"};
    for (std::string_view t : kTypes)
      if (Starts(type, t)) return true;
    return false;
  }
  static bool FirstBox(std::span<const uint8_t> type) {
    return Starts(type, "ftyp") || Starts(type, "moov") || Starts(type, "mdat") ||
           Starts(type, "wide") || Starts(type, "pnot") || Starts(type, "free") ||
           Starts(type, "skip");
  }

 private:
  enum class Step { Start, NextBox, Box, Large, Brand, ToEnd };
  static bool Starts(std::span<const uint8_t> b, std::string_view s) {
    return ::Starts(b, s);
  }
  static bool Starts(const std::array<uint8_t, 4>& b, std::string_view s) {
    return std::memcmp(b.data(), s.data(), std::min<size_t>(4, s.size())) == 0;
  }

  void Advance(std::span<const uint8_t> got) override {
    switch (step_) {
      case Step::Start:
      case Step::NextBox:
        boxStart_ = pos_;
        step_ = Step::Box;
        Need(8);
        return;
      case Step::Box: {
        std::memcpy(type_.data(), got.data() + 4, 4);
        const uint32_t size = Be32(got, 0);
        if (!KnownBox(got.subspan(4, 4)) || (boxes_ == 0 && !FirstBox(got.subspan(4, 4))))
          return Insane();
        if (size == 1) {
          step_ = Step::Large;
          Need(8);
          return;
        }
        if (size == 0) {
          // The last box runs to the end of the file, which nothing marks.
          if (boxes_ == 0) return Insane();
          Count();
          step_ = Step::ToEnd;
          Scan();
          return;
        }
        if (size < 8) return Insane();
        return Accept(size, 8);
      }
      case Step::Large: {
        const uint64_t size = Be64(got, 0);
        if (size < 16) return Insane();
        return Accept(size, 16);
      }
      case Step::Brand:
        std::memcpy(brand_.data(), got.data(), 4);
        step_ = Step::NextBox;
        Skip(boxSize_ - 12);
        return;
      case Step::ToEnd: Scan(); return;
    }
  }

  void Count() {
    ++boxes_;
    if (Starts(type_, "moov")) moov_ = true;
    if (Starts(type_, "moof")) moof_ = true;
    if (Starts(type_, "ftyp") && boxes_ == 1) ftyp_ = true;
  }

  void Accept(uint64_t size, uint32_t header) {
    if (size > 0xFFFFFFFFull) return Insane();  // more than a FAT file holds
    Count();
    if (Starts(type_, "ftyp") && size >= 12 && header == 8) {
      boxSize_ = size;
      step_ = Step::Brand;
      Need(4);
      return;
    }
    step_ = Step::NextBox;
    Skip(size - header);
  }

  void Insane() {
    if ((moov_ || moof_) && boxes_ >= 2) return EndAt(boxStart_);
    BreakAt(boxStart_);
  }

  size_t OnScan(std::span<const uint8_t> bytes) override { return bytes.size(); }

  void Lost(uint64_t holeStart) override {
    if (step_ == Step::ToEnd) return Scan();
    BreakAt(holeStart);
  }

  Step step_ = Step::Start;
  uint64_t boxStart_ = 0;
  uint64_t boxSize_ = 0;
  uint32_t boxes_ = 0;
  bool moov_ = false, moof_ = false, ftyp_ = false;
  std::array<uint8_t, 4> type_{};
  std::array<uint8_t, 4> brand_{};
};

// An MPEG audio layer III frame header: its length, or 0 when it is none.
struct FrameHeader {
  uint32_t length = 0;
  uint8_t version = 0;     // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
  uint8_t rateIndex = 0;
  bool SameStream(const FrameHeader& o) const {
    return version == o.version && rateIndex == o.rateIndex;
  }
};

FrameHeader DecodeFrameHeader(std::span<const uint8_t> h) {
  FrameHeader f;
  if (h.size() < 4 || h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return f;
  const uint8_t version = (h[1] >> 3) & 3;
  const uint8_t layer = (h[1] >> 1) & 3;
  const uint8_t bitrateIndex = h[2] >> 4;
  const uint8_t rateIndex = (h[2] >> 2) & 3;
  const uint8_t padding = (h[2] >> 1) & 1;
  if (version == 1 || layer != 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3 ||
      (h[3] & 3) == 2)
    return f;
  static constexpr uint16_t kMpeg1[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  static constexpr uint16_t kMpeg2[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
  static constexpr uint32_t kRates[3] = {44100, 48000, 32000};
  const uint32_t rate = kRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
  const uint32_t bitrate = (version == 3 ? kMpeg1 : kMpeg2)[bitrateIndex] * 1000u;
  f.length = (version == 3 ? 144 : 72) * bitrate / rate + padding;
  f.version = version;
  f.rateIndex = rateIndex;
  return f;
}

// MP3: an ID3v2 tag (by its size) or the first frame, then frame after frame
// of the same stream; an ID3v1 tag may close it. The audio ends after the
// last frame. Without a tag four frames in a row make it MP3.
class Mp3Walker final : public FormatWalker {
 public:
  bool Confirmed() const override { return frames_ >= (tagged_ ? 1u : 4u); }
  std::string Extension() const override { return "mp3"; }
  std::optional<uint64_t> EndIfCut() const override {
    if (Confirmed() && step_ == Step::FrameHead && pos_ >= frameStart_) return frameStart_;
    return std::nullopt;
  }

 private:
  enum class Step { Start, First, NextFrame, FrameHead, TagEnd, Padding, Resync, ResyncHead };

  void Advance(std::span<const uint8_t> got) override {
    switch (step_) {
      case Step::Start: step_ = Step::First; Need(10); return;
      case Step::First: {
        if (Starts(got, "ID3") && got[3] >= 2 && got[3] <= 4 && got[4] != 0xFF &&
            (got[6] | got[7] | got[8] | got[9]) < 0x80) {
          tagged_ = true;
          const uint32_t size = uint32_t{got[6]} << 21 | uint32_t{got[7]} << 14 |
                                uint32_t{got[8]} << 7 | got[9];
          step_ = Step::NextFrame;
          Skip(size + ((got[5] & 0x10) ? 10u : 0u));
          return;
        }
        const FrameHeader f = DecodeFrameHeader(got);
        if (f.length < 10) return BreakAt(0);
        stream_ = f;
        frames_ = 1;
        frameStart_ = f.length;
        step_ = Step::NextFrame;
        Skip(f.length - 10);
        return;
      }
      case Step::NextFrame:
        frameStart_ = pos_;
        step_ = Step::FrameHead;
        Need(4);
        return;
      case Step::FrameHead:
      case Step::ResyncHead: {
        const FrameHeader f = DecodeFrameHeader(got);
        if (f.length >= 4 && (frames_ == 0 || f.SameStream(stream_))) {
          if (frames_ == 0) stream_ = f;
          ++frames_;
          frameStart_ = pos_ - 4 + f.length;
          step_ = Step::NextFrame;
          Skip(f.length - 4);
          return;
        }
        if (step_ == Step::ResyncHead) {
          step_ = Step::Resync;
          Scan();
          return;
        }
        if (Starts(got, "TAG") && Confirmed()) {
          step_ = Step::TagEnd;
          Skip(124);
          return;
        }
        if (frames_ == 0 && tagged_ && Be32(got, 0) == 0) {
          // Zeros after the tag pad it.
          step_ = Step::Padding;
          Scan();
          return;
        }
        if (Confirmed()) return EndAt(frameStart_);
        return BreakAt(frameStart_);
      }
      case Step::TagEnd: End(); return;
      case Step::Padding:
      case Step::Resync: Scan(); return;
    }
  }

  size_t OnScan(std::span<const uint8_t> bytes) override {
    const size_t n = bytes.size();
    if (step_ == Step::Padding) {
      size_t k = 0;
      while (k < n && bytes[k] == 0) ++k;
      padded_ += k;
      if (padded_ > 65536) {
        BreakAt(pos_ + k);
        return k;
      }
      if (k == n) return n;
      frameStart_ = pos_ + k;
      step_ = Step::FrameHead;
      Need(4);
      return k;
    }
    for (size_t i = 0; i < n;) {
      const void* p = std::memchr(bytes.data() + i, 0xFF, n - i);
      if (p == nullptr) return n;
      const size_t at = static_cast<size_t>(static_cast<const uint8_t*>(p) - bytes.data());
      if (at + 4 > n) {
        frameStart_ = pos_ + at;
        step_ = Step::ResyncHead;
        Need(4);
        return at;
      }
      const FrameHeader f = DecodeFrameHeader(bytes.subspan(at, 4));
      if (f.length >= 4 && f.SameStream(stream_)) {
        frameStart_ = pos_ + at;
        step_ = Step::FrameHead;
        Need(4);
        return at;
      }
      i = at + 1;
    }
    return n;
  }

  void Lost(uint64_t holeStart) override {
    if (!Confirmed() || frames_ == 0) return BreakAt(holeStart);
    step_ = Step::Resync;
    Scan();
  }

  Step step_ = Step::Start;
  bool tagged_ = false;
  uint32_t frames_ = 0;
  uint64_t frameStart_ = 0;  // where the next frame begins: the end of the last
  uint64_t padded_ = 0;
  FrameHeader stream_;
};

// Bytes of plain text: tab, line feed, form feed, carriage return,
// printable ASCII and well-formed UTF-8.
struct TextState {
  int continuation = 0;  // UTF-8 continuation bytes still due
  uint8_t lo = 0x80, hi = 0xBF;  // the range the next continuation byte must lie in
  bool Take(uint8_t b) {
    if (continuation > 0) {
      if (b < lo || b > hi) return false;
      --continuation;
      lo = 0x80;
      hi = 0xBF;
      return true;
    }
    if (b >= 0x20 && b < 0x7F) return true;
    if (b == '\t' || b == '\n' || b == '\r' || b == '\f') return true;
    if (b >= 0xC2 && b <= 0xDF) { continuation = 1; return true; }
    if (b >= 0xE0 && b <= 0xEF) {
      continuation = 2;
      lo = b == 0xE0 ? 0xA0 : 0x80;
      hi = b == 0xED ? 0x9F : 0xBF;
      return true;
    }
    if (b >= 0xF0 && b <= 0xF4) {
      continuation = 3;
      lo = b == 0xF0 ? 0x90 : 0x80;
      hi = b == 0xF4 ? 0x8F : 0xBF;
      return true;
    }
    return false;
  }
};

// Text: clusters of text in a row. A zero ends it (text holds none: what
// follows is the last cluster's slack); a cluster that is no text cuts it
// before that cluster, or after a line that ends inside it.
class TextWalker final : public FormatWalker {
 public:
  explicit TextWalker(uint32_t clusterBytes) : clusterBytes_(clusterBytes ? clusterBytes : 512) {}
  bool Confirmed() const override { return true; }
  std::string Extension() const override { return "txt"; }

 private:
  void Advance(std::span<const uint8_t>) override { Scan(); }

  // Whether all eight bytes of a word are printable ASCII (0x20-0x7E): text
  // is mostly that, and a word at a time goes faster than a byte.
  static bool Printable8(const uint8_t* p) {
    uint64_t x;
    std::memcpy(&x, p, 8);
    constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
    const uint64_t below = (x - 0x20 * kOnes) & ~x & kHigh;  // a byte under 0x20
    const uint64_t above = ((x + kOnes) | x) & kHigh;         // a byte of 0x7F or more
    return (below | above) == 0;
  }

  size_t OnScan(std::span<const uint8_t> bytes) override {
    for (size_t i = 0; i < bytes.size(); ++i) {
      while (state_.continuation == 0 && i + 8 <= bytes.size() && Printable8(bytes.data() + i)) {
        i += 8;
        lastByte_ = bytes[i - 1];
      }
      if (i == bytes.size()) break;
      const uint8_t b = bytes[i];
      const uint64_t at = pos_ + i;
      if (b == 0) {
        EndAt(at);
        return i;
      }
      if (!state_.Take(b)) {
        const uint64_t clusterStart = at - at % clusterBytes_;
        BreakAt(at > clusterStart && lastByte_ == '\n' ? at : clusterStart);
        return i;
      }
      lastByte_ = b;
    }
    return bytes.size();
  }

  uint32_t clusterBytes_;
  TextState state_;
  uint8_t lastByte_ = 0;
};

}  // namespace

std::unique_ptr<FormatWalker> MakeFormatWalker(CarvedType type, bool strict,
                                               uint32_t clusterBytes) {
  switch (type) {
    case CarvedType::Jpeg: return std::make_unique<JpegWalker>();
    case CarvedType::Png: return std::make_unique<PngWalker>(strict);
    case CarvedType::Gif: return std::make_unique<GifWalker>();
    case CarvedType::Pdf: return std::make_unique<PdfWalker>();
    case CarvedType::Zip: return std::make_unique<ZipWalker>(strict);
    case CarvedType::Mp4: return std::make_unique<Mp4Walker>();
    case CarvedType::Mp3: return std::make_unique<Mp3Walker>();
    case CarvedType::Text: return std::make_unique<TextWalker>(clusterBytes);
  }
  return nullptr;
}

std::optional<HeaderMatch> MatchHeader(std::span<const uint8_t> head) {
  if (head.size() < 16) return std::nullopt;
  if (head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF && head[3] >= 0xC0 && head[3] != 0xFF)
    return HeaderMatch{CarvedType::Jpeg};
  if (Starts(head, "\x89PNG\r\n\x1A\n")) return HeaderMatch{CarvedType::Png};
  if (Starts(head, "GIF87a") || Starts(head, "GIF89a")) return HeaderMatch{CarvedType::Gif};
  if (Starts(head, "%PDF-")) return HeaderMatch{CarvedType::Pdf};
  if (Starts(head, std::string_view("PK\x03\x04", 4))) return HeaderMatch{CarvedType::Zip};
  if (Starts(head, "ID3") && head[3] >= 2 && head[3] <= 4 && head[4] != 0xFF &&
      (head[6] | head[7] | head[8] | head[9]) < 0x80)
    return HeaderMatch{CarvedType::Mp3};
  const uint32_t boxSize = Be32(head, 0);
  const auto boxType = head.subspan(4, 4);
  if (Starts(boxType, "ftyp") && boxSize >= 8) return HeaderMatch{CarvedType::Mp4};
  if ((Starts(boxType, "moov") || Starts(boxType, "mdat") || Starts(boxType, "wide") ||
       Starts(boxType, "pnot")) &&
      (boxSize >= 8 || boxSize == 1))
    return HeaderMatch{CarvedType::Mp4, true};
  // Frames alone: the next frame, where it falls in view, must follow.
  const FrameHeader f = DecodeFrameHeader(head);
  if (f.length >= 24) {
    if (f.length + 4 <= head.size()) {
      const FrameHeader next = DecodeFrameHeader(head.subspan(f.length, 4));
      if (next.length == 0 || !next.SameStream(f)) return std::nullopt;
    }
    return HeaderMatch{CarvedType::Mp3, true};
  }
  return std::nullopt;
}

bool TextClusterStart(std::span<const uint8_t> cluster) {
  if (cluster.empty() || cluster[0] == 0 || (cluster[0] >= 0x80 && cluster[0] < 0xC0))
    return false;
  TextState state;
  size_t text = 0, words = 0, blanks = 0;
  for (; text < cluster.size(); ++text) {
    const uint8_t b = cluster[text];
    if (b == 0) break;
    if (!state.Take(b)) return false;
    if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b >= 0x80)
      ++words;
    else if (b == ' ' || b == '\n' || b == '\t')
      ++blanks;
  }
  for (size_t i = text; i < cluster.size(); ++i)
    if (cluster[i] != 0) return false;
  // Text has words and gaps between them: a cluster of one repeated
  // punctuation or of blanks is no file of its own.
  return text >= 16 && blanks > 0 && words * 2 >= text;
}

namespace {

// A ZIP's central directory, found from its end record at the end of z,
// names local headers that stand where it says, with the same names.
bool ZipDirectoryAgrees(std::span<const uint8_t> z) {
  if (z.size() < 22) return false;
  const size_t lowest = z.size() >= 22 + 0xFFFF ? z.size() - 22 - 0xFFFF : 0;
  for (size_t at = z.size() - 22 + 1; at-- > lowest;) {
    if (Le32(z, at) != 0x06054b50 || at + 22 + Le16(z, at + 20) != z.size()) continue;
    const uint16_t entries = Le16(z, at + 10);
    const uint32_t size = Le32(z, at + 12);
    const uint32_t offset = Le32(z, at + 16);
    if (offset == 0xFFFFFFFF || entries == 0xFFFF) return true;  // ZIP64: not followed here
    if (uint64_t{offset} + size != at) return false;
    uint64_t c = offset;
    for (uint32_t i = 0; i < entries; ++i) {
      if (c + 46 > at || Le32(z, c) != 0x02014b50) return false;
      const uint16_t n = Le16(z, c + 28);
      const uint64_t next = c + 46 + n + Le16(z, c + 30) + Le16(z, c + 32);
      const uint32_t local = Le32(z, c + 42);
      if (next > at) return false;
      if (local != 0xFFFFFFFF) {
        if (uint64_t{local} + 30 + n > z.size() || Le32(z, local) != 0x04034b50 ||
            Le16(z, local + 26) != n || std::memcmp(z.data() + local + 30, z.data() + c + 46, n) != 0)
          return false;
      }
      c = next;
    }
    return c == at;
  }
  return false;
}

// A PDF's last startxref points at its cross-reference: a table ("xref") or
// a stream object ("12 0 obj").
bool PdfStartXrefAgrees(std::span<const uint8_t> p) {
  static constexpr std::string_view kKey = "startxref";
  const size_t from = p.size() > 4096 ? p.size() - 4096 : 0;
  const auto tail = std::string_view(reinterpret_cast<const char*>(p.data()) + from, p.size() - from);
  const size_t key = tail.rfind(kKey);
  if (key == std::string_view::npos) return false;
  size_t i = key + kKey.size();
  while (i < tail.size() && std::strchr(" \t\r\n\f", tail[i]) && tail[i] != 0) ++i;
  uint64_t offset = 0;
  size_t digits = 0;
  for (; i < tail.size() && tail[i] >= '0' && tail[i] <= '9' && digits < 19; ++i, ++digits)
    offset = offset * 10 + static_cast<uint64_t>(tail[i] - '0');
  if (digits == 0 || offset >= p.size()) return false;
  const auto at = std::string_view(reinterpret_cast<const char*>(p.data()) + offset,
                                   std::min<size_t>(64, p.size() - offset));
  if (at.rfind("xref", 0) == 0) return true;
  // "N G obj"
  size_t k = 0;
  auto number = [&] {
    const size_t start = k;
    while (k < at.size() && at[k] >= '0' && at[k] <= '9') ++k;
    return k > start;
  };
  auto blanks = [&] {
    const size_t start = k;
    while (k < at.size() && (at[k] == ' ' || at[k] == '\r' || at[k] == '\n' || at[k] == '\t')) ++k;
    return k > start;
  };
  return number() && blanks() && number() && blanks() && at.substr(k).rfind("obj", 0) == 0;
}

}  // namespace

StructureCheck CheckStructure(CarvedType type, std::span<const uint8_t> bytes) {
  StructureCheck check;
  if (type == CarvedType::Text) return check;
  std::unique_ptr<FormatWalker> walker = MakeFormatWalker(type, true, 512);
  const WalkStep step = walker->Feed(bytes);
  uint64_t end = 0;
  if (step.status == WalkStatus::Ended) {
    end = step.end;
  } else if (step.status == WalkStatus::More && walker->EndIfCut()) {
    end = *walker->EndIfCut();
  } else {
    check.verdict = StructureVerdict::Broken;
    return check;
  }
  if (end > bytes.size()) {
    check.verdict = StructureVerdict::Broken;
    return check;
  }
  const auto whole = bytes.first(static_cast<size_t>(end));
  if ((type == CarvedType::Zip && !ZipDirectoryAgrees(whole)) ||
      (type == CarvedType::Pdf && !PdfStartXrefAgrees(whole))) {
    check.verdict = StructureVerdict::Broken;
    return check;
  }
  check.verdict = StructureVerdict::Complete;
  check.end = end;
  check.tailClean = std::all_of(bytes.begin() + static_cast<ptrdiff_t>(end), bytes.end(), [](uint8_t b) {
    return b == 0 || b == ' ' || b == '\t' || b == '\r' || b == '\n';
  });
  return check;
}
