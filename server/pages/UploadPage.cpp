#include "UploadPage.h"

#include <string_view>

#include "ShownText.h"

namespace {
// Long names wrap at any byte rather than widen a phone's screen.
constexpr std::string_view kStyle =
    "body{font-family:sans-serif;margin:0 auto;max-width:60em;padding:0 .5em}"
    "h1{font-size:1.3em;overflow-wrap:anywhere}"
    "h2{font-size:1.1em;margin-bottom:.3em}"
    "ul{padding-left:1.2em}"
    "li{overflow-wrap:anywhere;margin:.3em 0}"
    "a{display:inline-block;padding:.7em 0}";

std::string_view HeadlineOf(const SUploadReport& report) {
    if (!report.strWhy.empty()) {
        return report.strWhy;
    }
    return report.refused.empty() ? "Files added" : "Some files were refused";
}

void AppendShown(std::string& strPage, std::string_view text) {
    AppendShownText(strPage, text, EShownIn::Page);
}
}  // namespace

std::string BuildUploadPage(const SUploadReport& report) {
    const std::string_view headline = HeadlineOf(report);
    std::string strPage =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
    AppendShown(strPage, headline);
    strPage += "</title>\n<style>";
    strPage += kStyle;
    strPage += "</style></head>\n<body><h1>";
    AppendShown(strPage, headline);
    strPage += "</h1>\n";
    if (!report.stored.empty()) {
        strPage += "<h2>Stored:</h2>\n<ul>\n";
        for (const std::string& strName : report.stored) {
            strPage += "<li>";
            AppendShown(strPage, strName);
            strPage += "</li>\n";
        }
        strPage += "</ul>\n";
    }
    if (!report.refused.empty()) {
        strPage += "<h2>Refused:</h2>\n<ul>\n";
        for (const auto& [strName, strReason] : report.refused) {
            strPage += "<li>";
            AppendShown(strPage, strName);
            strPage += ": ";
            AppendShown(strPage, strReason);
            strPage += "</li>\n";
        }
        strPage += "</ul>\n";
    }
    strPage += "<p><a href=\"./\">Back to the folder</a></p></body></html>\n";
    return strPage;
}
