// The image of a hive: the file that holds it as it is now. The file is
// copied as it was but for the keys that changed, which are written where
// they stood, and the new keys, which go at its end; the copy is made of
// stretches of the old file, of the hive's memory and of fresh text, so that
// a large file is written without being read into memory.
#include <algorithm>
#include <string>

#include "platform/linux/hosts/world/hive.h"
#include "platform/linux/hosts/world/hive_parts.h"
#include "platform/linux/hosts/world/value_lines.h"

namespace sim {

using hive::kRootName;

namespace {

// The file's text of a hive being written out, stretch by stretch.
class ImageWriter {
public:
    ImageWriter(HiveImage& image, bool fromFile) : image_(image), fromFile_(fromFile) {}

    void fresh(std::string_view text) {
        if (text.empty()) return;
        if (!image_.parts.empty() && image_.parts.back().kind == HiveImage::Part::Fresh) {
            image_.parts.back().size += text.size();
        } else {
            image_.parts.push_back({HiveImage::Part::Fresh, {}, image_.fresh.size(), text.size()});
        }
        image_.fresh.append(text);
    }
    // Bytes the hive holds (a view of the file's text, or lines of a key).
    void text(std::string_view text) {
        if (!text.empty()) image_.parts.push_back({HiveImage::Part::Text, text, 0, text.size()});
    }
    // Bytes of the file it was read from: copied from it.
    void original(std::string_view heldText, size_t begin, size_t end) {
        if (begin >= end) return;
        if (!fromFile_) return text(heldText.substr(begin, end - begin));
        image_.parts.push_back({HiveImage::Part::File, {}, begin, end - begin});
    }

private:
    HiveImage& image_;
    bool fromFile_;
};

}  // namespace

HiveImage imageOf(const Hive& hive) {
    HiveImage image;
    ImageWriter out(image, hive.fd_ >= 0);
    const std::string_view held = hive.text_.view();
    std::string line;
    auto writeKey = [&](const RegKey& key) {
        line.assign("[").append(kRootName);
        if (!key.path.empty()) line.append("\\").append(key.path);
        out.fresh(line.append("]\n"));
        for (const ValuePiece& piece : key.pieces) {
            if (piece.isLines()) {
                if (key.textAt >= 0) out.original(held, key.textAt + piece.begin, key.textAt + piece.end);
                else out.text(key.text.substr(piece.begin, piece.end - piece.begin));
                if (piece.end == piece.begin || key.text[piece.end - 1] != '\n') out.fresh("\n");
            } else {
                line.clear();
                appendValue(line, hive.nameOf(piece.value), piece.value.type, hive.dataOf(piece.value));
                out.fresh(line);
            }
        }
        out.fresh("\n");
    };
    if (!hive.signed_) {
        // Empty, or blank lines only: nothing to keep.
        out.fresh("REGEDIT4\n\n");
    } else {
        // The file as it is, but for the keys that changed: each written
        // where its first header stood, its other headers and lines left out.
        std::vector<std::pair<uint32_t, const RegKey*>> changedHeaders;
        for (const RegKey* key : hive.rewrittenKeys_)
            for (uint32_t header : key->headers) changedHeaders.emplace_back(header, key);
        std::sort(changedHeaders.begin(), changedHeaders.end());
        size_t copied = 0;
        for (const auto& [header, key] : changedHeaders) {
            out.original(held, copied, hive.headers_[header].at);
            if (header == key->headers.front()) writeKey(*key);
            copied = hive.bodyEnd(header);
        }
        out.original(held, copied, hive.size_);
        if (copied < hive.size_ && !hive.createdOrder_.empty()) {
            std::string last;
            if (hive.fileBytes(hive.size_ - 1, hive.size_, last) != "\n") out.fresh("\n");
        }
    }
    for (const RegKey* key : hive.createdOrder_) writeKey(*key);
    return image;
}

std::vector<FilePart> HiveImage::fileParts(int fileFd) const {
    std::vector<FilePart> out;
    out.reserve(parts.size());
    for (const Part& part : parts) {
        switch (part.kind) {
        case Part::Fresh: out.push_back({std::string_view(fresh).substr(part.begin, part.size)}); break;
        case Part::Text: out.push_back({part.text}); break;
        case Part::File: out.push_back({{}, fileFd, static_cast<off_t>(part.begin), part.size}); break;
        }
    }
    return out;
}

std::string serializeHive(const Hive& hive) {
    HiveImage image = imageOf(hive);
    std::string out, stretch;
    for (const HiveImage::Part& part : image.parts) {
        switch (part.kind) {
        case HiveImage::Part::Fresh: out.append(image.fresh, part.begin, part.size); break;
        case HiveImage::Part::Text: out.append(part.text); break;
        case HiveImage::Part::File: out.append(hive.fileBytes(part.begin, part.begin + part.size, stretch)); break;
        }
    }
    return out;
}

}  // namespace sim
