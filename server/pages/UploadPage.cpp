#include "UploadPage.h"

#include "ShownText.h"

std::string BuildUploadPage(const SUploadReport& report) {
    std::string strPage =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<title>Add files</title></head><body>\n";
    if (!report.strWhy.empty()) {
        strPage += "<p>" + report.strWhy + "</p>\n";
    }
    for (const std::string& strName : report.stored) {
        strPage += "<p>Stored: ";
        AppendShownText(strPage, strName, EShownIn::Page);
        strPage += "</p>\n";
    }
    for (const auto& [strName, strWhy] : report.refused) {
        strPage += "<p>Refused: ";
        AppendShownText(strPage, strName, EShownIn::Page);
        strPage += " (" + strWhy + ")</p>\n";
    }
    strPage += "<p><a href=\"./\">Back to the folder</a></p>\n</body></html>\n";
    return strPage;
}
