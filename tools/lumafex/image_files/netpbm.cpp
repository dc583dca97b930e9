#include "image_files/netpbm.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

#include "image_files/files.h"

namespace lumafex::tool {

namespace {

// A cursor over a file's bytes that reads header tokens.
class Reader {
public:
    Reader(std::string path, std::string_view data) : path_(std::move(path)), data_(data) {}

    [[noreturn]] void Fail(const std::string& what) const { throw ImageError(path_ + ": " + what); }

    // Skips white space and # comments.
    void SkipSpace() {
        while (pos_ < data_.size()) {
            const char c = data_[pos_];
            if (c == '#') {
                while (pos_ < data_.size() && data_[pos_] != '\n') ++pos_;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                ++pos_;
            } else {
                break;
            }
        }
    }
    std::string Token() {
        SkipSpace();
        const std::size_t start = pos_;
        while (pos_ < data_.size() && !std::isspace(static_cast<unsigned char>(data_[pos_]))) ++pos_;
        return std::string(data_.substr(start, pos_ - start));
    }
    int64_t Number(const char* what) {
        const std::string t = Token();
        if (t.empty() || t.size() > 12) Fail(std::string("bad ") + what + " in header");
        int64_t v = 0;
        for (char c : t) {
            if (!std::isdigit(static_cast<unsigned char>(c))) Fail(std::string("bad ") + what + " in header");
            v = v * 10 + (c - '0');
        }
        return v;
    }
    double Real(const char* what) {
        const std::string t = Token();
        try {
            std::size_t used = 0;
            const double v = std::stod(t, &used);
            if (used != t.size()) throw std::invalid_argument(t);
            return v;
        } catch (const std::exception&) {
            Fail(std::string("bad ") + what + " in header");
        }
    }
    // The single white-space byte that ends a header.
    void EndOfHeader() {
        if (pos_ >= data_.size() || !std::isspace(static_cast<unsigned char>(data_[pos_])))
            Fail("header is not followed by pixel data");
        ++pos_;
    }
    // The rest of the header line, for PAM's TUPLTYPE.
    std::string RestOfLine() {
        SkipBlanks();
        const std::size_t start = pos_;
        while (pos_ < data_.size() && data_[pos_] != '\n') ++pos_;
        std::string s(data_.substr(start, pos_ - start));
        while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
        return s;
    }
    const unsigned char* Pixels(std::size_t bytes) {
        if (data_.size() - pos_ < bytes) Fail("file is truncated: pixel data is missing");
        return reinterpret_cast<const unsigned char*>(data_.data() + pos_);
    }
    const std::string& path() const { return path_; }

private:
    void SkipBlanks() {
        while (pos_ < data_.size() && (data_[pos_] == ' ' || data_[pos_] == '\t')) ++pos_;
    }
    std::string path_;
    std::string_view data_;  // the caller's bytes, alive while the reader is
    std::size_t pos_ = 0;
};

struct Header {
    int64_t width = 0, height = 0, depth = 0, maxval = 0;
    std::string tupleType;
};

Header ReadHeader(Reader& r, const std::string& magic) {
    Header h;
    if (magic == "P7") {
        for (;;) {
            const std::string key = r.Token();
            if (key.empty()) r.Fail("PAM header has no ENDHDR");
            if (key == "ENDHDR") break;
            if (key == "WIDTH") h.width = r.Number("WIDTH");
            else if (key == "HEIGHT") h.height = r.Number("HEIGHT");
            else if (key == "DEPTH") h.depth = r.Number("DEPTH");
            else if (key == "MAXVAL") h.maxval = r.Number("MAXVAL");
            else if (key == "TUPLTYPE") h.tupleType = r.RestOfLine();
            else r.Fail("unknown PAM header line " + key);
        }
    } else {
        h.width = r.Number("width");
        h.height = r.Number("height");
        h.maxval = r.Number("maxval");
        h.depth = magic == "P6" ? 3 : 1;
    }
    r.EndOfHeader();
    if (h.maxval < 1 || h.maxval > 65535) r.Fail("maxval must be 1 to 65535");
    if (h.depth < 1 || h.depth > 4) r.Fail("depth must be 1 to 4 channels");
    CheckImageSize(r.path(), h.width, h.height);
    return h;
}

// Reads the samples of a P5/P6/P7 image as bytes, channel-interleaved.
std::vector<uint8_t> Samples(Reader& r, const Header& h) {
    const std::size_t count = PixelCount(static_cast<int32_t>(h.width), static_cast<int32_t>(h.height)) *
                              static_cast<std::size_t>(h.depth);
    const std::size_t bytesPerSample = h.maxval > 255 ? 2 : 1;
    CheckAllocation(r.path(), "the image", {count});
    const unsigned char* p = r.Pixels(count * bytesPerSample);
    std::vector<uint8_t> out(count);
    const auto maxval = static_cast<uint32_t>(h.maxval);
    for (std::size_t i = 0; i < count; ++i) {
        const uint32_t v = bytesPerSample == 2 ? (uint32_t{p[2 * i]} << 8 | p[2 * i + 1]) : p[i];
        out[i] = maxval == 255 ? static_cast<uint8_t>(v) : ScaledToByte(v, maxval);
    }
    return out;
}

Reader Open(const std::string& data, const std::string& path, std::string& magic) {
    Reader r(path, data);
    magic = r.Token();
    return r;
}

}  // namespace

ColourImage ReadNetpbmColour(const std::string& path) {
    return ParseNetpbmColour(ReadWholeFile(path, MemoryBudget()), path);
}

ColourImage ParseNetpbmColour(const std::string& data, const std::string& path) {
    std::string magic;
    Reader r = Open(data, path, magic);
    if (magic != "P7" && magic != "P6" && magic != "P5")
        r.Fail("not a binary PAM, PPM or PGM image");
    const Header h = ReadHeader(r, magic);
    const std::vector<uint8_t> s = Samples(r, h);
    ColourImage image;
    image.Resize(static_cast<int32_t>(h.width), static_cast<int32_t>(h.height));
    const auto d = static_cast<std::size_t>(h.depth);
    for (std::size_t i = 0; i < image.red.size(); ++i) {
        const uint8_t* px = &s[i * d];
        if (d >= 3) {
            image.red[i] = px[0];
            image.green[i] = px[1];
            image.blue[i] = px[2];
            if (d == 4) image.alpha[i] = px[3];
        } else {  // grey, with alpha when there are two channels
            image.red[i] = image.green[i] = image.blue[i] = px[0];
            if (d == 2) image.alpha[i] = px[1];
        }
    }
    return image;
}

GreyImage ReadNetpbmGrey(const std::string& path) {
    return ParseNetpbmGrey(ReadWholeFile(path, MemoryBudget()), path);
}

GreyImage ParseNetpbmGrey(const std::string& data, const std::string& path) {
    std::string magic;
    Reader r = Open(data, path, magic);
    if (magic != "P5" && magic != "P7") r.Fail("not a binary PGM or PAM image");
    const Header h = ReadHeader(r, magic);
    const std::vector<uint8_t> s = Samples(r, h);
    GreyImage image;
    image.width = static_cast<int32_t>(h.width);
    image.height = static_cast<int32_t>(h.height);
    image.value.resize(PixelCount(image.width, image.height));
    for (std::size_t i = 0; i < image.value.size(); ++i) {
        image.value[i] = s[i * static_cast<std::size_t>(h.depth)];
    }
    return image;
}

DepthImage ReadPfm(const std::string& path) {
    return ParsePfm(ReadWholeFile(path, MemoryBudget()), path);
}

DepthImage ParsePfm(const std::string& data, const std::string& path) {
    std::string magic;
    Reader r = Open(data, path, magic);
    if (magic != "Pf") r.Fail("not a one-channel PFM (Pf) image");
    const int64_t w = r.Number("width");
    const int64_t h = r.Number("height");
    const double scale = r.Real("scale");
    r.EndOfHeader();
    if (!std::isfinite(scale) || scale == 0.0) r.Fail("scale must be a finite number other than 0");
    CheckImageSize(path, w, h);
    DepthImage image;
    image.width = static_cast<int32_t>(w);
    image.height = static_cast<int32_t>(h);
    image.channel = "PFM";
    const std::size_t n = PixelCount(image.width, image.height);
    const unsigned char* p = r.Pixels(n * 4);
    const bool little = scale < 0.0;
    image.value.resize(n);
    // PFM stores the bottom row first.
    for (int32_t y = 0; y < image.height; ++y) {
        const std::size_t srcRow = static_cast<std::size_t>(image.height - 1 - y) * static_cast<std::size_t>(w);
        for (int32_t x = 0; x < image.width; ++x) {
            const unsigned char* b = p + (srcRow + static_cast<std::size_t>(x)) * 4;
            const uint32_t bits = little ? (uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24)
                                         : (uint32_t{b[3]} | uint32_t{b[2]} << 8 | uint32_t{b[1]} << 16 | uint32_t{b[0]} << 24);
            float v;
            std::memcpy(&v, &bits, 4);
            image.value[static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)] = v;
        }
    }
    return image;
}

void WritePam(const std::string& path, const ColourImage& image) {
    WriteFileSafely(path, [&](std::ostream& out) { WritePamTo(out, image); });
}

void WritePamTo(std::ostream& out, const ColourImage& image) {
    out << "P7\nWIDTH " << image.width << "\nHEIGHT " << image.height
        << "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    std::vector<char> row(static_cast<std::size_t>(image.width) * 4);
    for (int32_t y = 0; y < image.height; ++y) {
        for (int32_t x = 0; x < image.width; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) + static_cast<std::size_t>(x);
            char* px = &row[static_cast<std::size_t>(x) * 4];
            px[0] = static_cast<char>(image.red[i]);
            px[1] = static_cast<char>(image.green[i]);
            px[2] = static_cast<char>(image.blue[i]);
            px[3] = static_cast<char>(image.alpha[i]);
        }
        out.write(row.data(), static_cast<std::streamsize>(row.size()));
    }
}

void WritePgm(const std::string& path, const GreyImage& image) {
    WriteFileSafely(path, [&](std::ostream& out) { WritePgmTo(out, image); });
}

void WritePgmTo(std::ostream& out, const GreyImage& image) {
    out << "P5\n" << image.width << " " << image.height << "\n255\n";
    out.write(reinterpret_cast<const char*>(image.value.data()),
              static_cast<std::streamsize>(image.value.size()));
}

void WritePfm(const std::string& path, const DepthImage& image) {
    WriteFileSafely(path, [&](std::ostream& out) { WritePfmTo(out, image); });
}

void WritePfmTo(std::ostream& out, const DepthImage& image) {
    out << "Pf\n" << image.width << " " << image.height << "\n-1.0\n";
    for (int32_t y = image.height - 1; y >= 0; --y) {
        for (int32_t x = 0; x < image.width; ++x) {
            const float v = image.value[static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) + static_cast<std::size_t>(x)];
            uint32_t bits;
            std::memcpy(&bits, &v, 4);
            const char b[4] = {static_cast<char>(bits & 0xFF), static_cast<char>(bits >> 8 & 0xFF),
                               static_cast<char>(bits >> 16 & 0xFF), static_cast<char>(bits >> 24 & 0xFF)};
            out.write(b, 4);
        }
    }
}

}  // namespace lumafex::tool
