// The listing's "Add files" control, for a folder whose visitors may add
// files: a form that posts the chosen files to the page's own address (it
// works without script; the answer leads back to the listing), and a script
// that sends it in the background and shows the progress and the names stored.
#pragma once

#include <string>
#include <string_view>

struct SAddFiles {
    // Carried by the page's script tag and named by its policy, so the page's
    // own script runs and nothing else; empty: the page goes without the script.
    std::string_view scriptNonce;
};

// The style rules the form adds to the listing's.
extern const std::string_view kAddFilesStyle;

// The form, for the top of the page.
void AppendAddFilesForm(std::string& strPage);
// The script that sends it, for the end of the body; nothing without a nonce.
void AppendAddFilesScript(std::string& strPage, const SAddFiles& addFiles);

// The Content-Security-Policy of a page with the form: its own script (by its
// nonce), its inline style, requests and forms to this server only.
std::string AddFilesPagePolicy(const SAddFiles& addFiles);
