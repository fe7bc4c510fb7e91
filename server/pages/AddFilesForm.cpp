#include "AddFilesForm.h"

#include "AddFilesScriptBody.h"

// Touch-sized controls on one line where the width allows; the bar and the
// result text below them, long names wrapped.
const std::string_view kAddFilesStyle =
    "form{display:flex;flex-wrap:wrap;align-items:center;gap:.5em;margin:0 0 1em}"
    "input[type=file]{flex:1 1 12em;min-width:0}"
    "button,::file-selector-button{min-height:44px;padding:0 1em;font-size:1em}"
    "progress{flex:1 1 100%;height:1em}"
    "#add-files-said{flex:1 1 100%;margin:0;white-space:pre-line;overflow-wrap:anywhere}"
    "#add-files-said:empty{display:none}";

// No action: the form goes to the page's own address as the browser has it,
// the sort order and a private link's secret included.
void AppendAddFilesForm(std::string& strPage) {
    strPage +=
        "<form id=\"add-files\" method=\"post\" enctype=\"multipart/form-data\">\n"
        "<input type=\"file\" name=\"file\" multiple required aria-label=\"Files to add\">\n"
        "<button>Add files</button>\n"
        "<progress hidden></progress>\n"
        "<p id=\"add-files-said\" role=\"status\"></p></form>\n";
}

void AppendAddFilesScript(std::string& strPage, const SAddFiles& addFiles) {
    if (addFiles.scriptNonce.empty()) {
        return;
    }
    strPage += "<script nonce=\"";
    strPage += addFiles.scriptNonce;  // base32 or base64 characters: safe in "..."
    strPage += "\">\n";
    strPage += kAddFilesScriptBody;
    strPage += "</script>\n";
}

std::string AddFilesPagePolicy(const SAddFiles& addFiles) {
    std::string strPolicy = "default-src 'none'; script-src ";
    if (addFiles.scriptNonce.empty()) {
        strPolicy += "'none'";
    } else {
        strPolicy += "'nonce-";
        strPolicy += addFiles.scriptNonce;
        strPolicy += '\'';
    }
    // The sent form's answer is a redirect to the listing: form-action and
    // connect-src allow both on this server.
    strPolicy +=
        "; style-src 'unsafe-inline'; img-src 'self' data:; connect-src 'self'; "
        "form-action 'self'; base-uri 'none'; frame-ancestors 'none'";
    return strPolicy;
}
