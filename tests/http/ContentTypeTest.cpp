// The type an answer is labelled with, and which types carry a charset label.
#include <gtest/gtest.h>

#include "ContentType.h"

namespace {

TEST(ContentType, ByExtensionWithoutRegardToCase) {
    const std::pair<const char*, const char*> cases[] = {
        {"a.htm", "text/html"},
        {"a.HTML", "text/html"},
        {"s.css", "text/css"},
        {"x.js", "text/javascript"},
        {"m.mjs", "text/javascript"},
        {"d.json", "application/json"},
        {"r.txt", "text/plain"},
        {"f.xml", "application/xml"},
        {"i.svg", "image/svg+xml"},
        {"i.PNG", "image/png"},
        {"i.jpg", "image/jpeg"},
        {"i.jpeg", "image/jpeg"},
        {"i.gif", "image/gif"},
        {"favicon.ico", "image/x-icon"},
        {"i.webp", "image/webp"},
        {"i.avif", "image/avif"},
        {"w.wasm", "application/wasm"},
        {"d.pdf", "application/pdf"},
        {"s.mp3", "audio/mpeg"},
        {"v.mp4", "video/mp4"},
        {"v.webm", "video/webm"},
        {"f.woff", "font/woff"},
        {"f.woff2", "font/woff2"},
        {"f.ttf", "font/ttf"},
        {"f.otf", "font/otf"},
        {"a.zip", "application/zip"},
        {"a.ogg", "audio/ogg"},
        {"a.oga", "audio/ogg"},
        {"a.opus", "audio/ogg"},
        {"a.m4a", "audio/mp4"},
        {"a.aac", "audio/aac"},
        {"a.wav", "audio/wav"},
        {"a.FLAC", "audio/flac"},
        {"v.m4v", "video/mp4"},
        {"v.mov", "video/quicktime"},
        {"v.mkv", "video/x-matroska"},
        {"v.ogv", "video/ogg"},
        {"s.vtt", "text/vtt"},
        {"i.bmp", "image/bmp"},
        {"i.tif", "image/tiff"},
        {"i.tiff", "image/tiff"},
        {"t.csv", "text/csv"},
        {"r.md", "text/markdown"},
        {"x.log", "text/plain"},
        {"a.js.map", "application/json"},
        {"site.webmanifest", "application/manifest+json"},
        {"noextension", "application/octet-stream"},
        {"a.tar.gz", "application/octet-stream"},
        {"dir.htm/file", "application/octet-stream"},
        {"/x/y/page.Htm", "text/html"},
        {"trailingdot.", "application/octet-stream"},
    };
    for (const auto& [name, type] : cases) {
        EXPECT_STREQ(ContentTypeFor(name), type) << name;
    }
}

TEST(ContentType, CharsetLabelOnTextOtherThanHtml) {
    EXPECT_TRUE(IsCharsetLabelledType("text/plain"));
    EXPECT_TRUE(IsCharsetLabelledType("text/vtt"));
    EXPECT_FALSE(IsCharsetLabelledType("text/html"));
}

TEST(ContentType, ScriptRunsInHtmlSvgAndXml) {
    const std::pair<const char*, bool> cases[] = {
        {"text/html", true},
        {"text/html; charset=utf-8", true},
        {"application/xhtml+xml", true},
        {"image/svg+xml", true},
        {"text/xml", true},
        {"application/xml", true},
        {"application/atom+xml", true},
        {"text/plain", false},
        {"text/plain; charset=utf-8", false},
        {"text/javascript", false},
        {"application/manifest+json", false},
        {"image/png", false},
        {"application/octet-stream", false},
        {"application/xml-dtd", false},
    };
    for (const auto& [type, bScript] : cases) {
        EXPECT_EQ(MayRunScript(type), bScript) << type;
    }
}

}  // namespace
