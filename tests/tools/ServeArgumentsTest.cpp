// The command line of tarvel-serve: which words are options, operands and mistakes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ServeArguments.h"

namespace {

struct SArgumentsRow {
    const char* pszName;
    std::vector<std::string> arguments;
    EServeCommand eCommand;
    SServeSettings settings;  // for kServe
};

const SServeSettings kSrv8080{.strRoot = "/srv", .nPort = 8080};
const SServeSettings kSrv8080Listed{.strRoot = "/srv", .nPort = 8080, .bListFolders = true};
const SServeSettings kSrv8080Preview{.strRoot = "/srv", .nPort = 8080, .bPreview = true};
const SServeSettings kSrv8080Both{
    .strRoot = "/srv", .nPort = 8080, .bListFolders = true, .bPreview = true};
const SServeSettings kSrv8080Concurrent{.strRoot = "/srv", .nPort = 8080, .bConcurrent = true};
const SServeSettings kSrv8080All{
    .strRoot = "/srv", .nPort = 8080, .bListFolders = true, .bPreview = true, .bConcurrent = true};
const SServeSettings kSrv8080Upload{.strRoot = "/srv", .nPort = 8080, .bUpload = true};
const std::string kKey = "abcdefghijklmnopqrstuvwxyz";
const SServeSettings kSrv8080Fresh{.strRoot = "/srv", .nPort = 8080, .bPrivate = true};
const SServeSettings kSrv8080Keyed{
    .strRoot = "/srv", .nPort = 8080, .bPrivate = true, .strPrivateKey = kKey};

const SArgumentsRow kArgumentsRows[] = {
    {"root_and_port", {"/srv", "8080"}, EServeCommand::kServe, kSrv8080},
    {"default_page",
     {"/srv", "0", "home.html"},
     EServeCommand::kServe,
     {.strRoot = "/srv", .strDefaultPage = "home.html"}},
    {"list_before_root", {"--list", "/srv", "8080"}, EServeCommand::kServe, kSrv8080Listed},
    {"list_twice", {"--list", "--list", "/srv", "8080"}, EServeCommand::kServe, kSrv8080Listed},
    {"list_then_end_of_options",
     {"--list", "--", "/srv", "8080"},
     EServeCommand::kServe,
     kSrv8080Listed},
    {"preview", {"--preview", "/srv", "8080"}, EServeCommand::kServe, kSrv8080Preview},
    {"preview_twice",
     {"--preview", "--preview", "/srv", "8080"},
     EServeCommand::kServe,
     kSrv8080Preview},
    {"preview_then_list",
     {"--preview", "--list", "/srv", "8080"},
     EServeCommand::kServe,
     kSrv8080Both},
    {"list_then_preview",
     {"--list", "--preview", "/srv", "8080"},
     EServeCommand::kServe,
     kSrv8080Both},
    {"concurrent", {"--concurrent", "/srv", "8080"}, EServeCommand::kServe, kSrv8080Concurrent},
    {"concurrent_twice",
     {"--concurrent", "--concurrent", "/srv", "8080"},
     EServeCommand::kServe,
     kSrv8080Concurrent},
    {"concurrent_between_the_others",
     {"--preview", "--concurrent", "--list", "/srv", "8080"},
     EServeCommand::kServe,
     kSrv8080All},
    {"concurrent_last_then_end_of_options",
     {"--list", "--preview", "--concurrent", "--", "/srv", "8080"},
     EServeCommand::kServe,
     kSrv8080All},
    {"concurrent_after_root", {"/srv", "8080", "--concurrent"}, EServeCommand::kUsageError, {}},
    {"concurrent_misspelt", {"--concurent", "/srv", "8080"}, EServeCommand::kUsageError, {}},
    {"upload", {"--upload", "/srv", "8080"}, EServeCommand::kServe, kSrv8080Upload},
    {"upload_twice",
     {"--upload", "--upload", "/srv", "8080"},
     EServeCommand::kServe,
     kSrv8080Upload},
    {"upload_first_of_all",
     {"--upload", "--private=" + kKey, "--concurrent", "--preview", "--list", "/srv", "8080"},
     EServeCommand::kServe,
     {.strRoot = "/srv",
      .nPort = 8080,
      .bListFolders = true,
      .bPreview = true,
      .bConcurrent = true,
      .bUpload = true,
      .bPrivate = true,
      .strPrivateKey = kKey}},
    {"upload_between_the_others",
     {"--list", "--upload", "--concurrent", "/srv", "8080"},
     EServeCommand::kServe,
     {.strRoot = "/srv",
      .nPort = 8080,
      .bListFolders = true,
      .bConcurrent = true,
      .bUpload = true}},
    {"upload_last_then_end_of_options",
     {"--private", "--preview", "--upload", "--", "/srv", "8080", "home.htm"},
     EServeCommand::kServe,
     {.strRoot = "/srv",
      .nPort = 8080,
      .strDefaultPage = "home.htm",
      .bPreview = true,
      .bUpload = true,
      .bPrivate = true}},
    {"upload_after_root", {"/srv", "8080", "--upload"}, EServeCommand::kUsageError, {}},
    {"upload_after_the_page",
     {"/srv", "8080", "a.htm", "--upload"},
     EServeCommand::kUsageError,
     {}},
    {"upload_misspelt", {"--uplaod", "/srv", "8080"}, EServeCommand::kUsageError, {}},
    {"upload_plural", {"--uploads", "/srv", "8080"}, EServeCommand::kUsageError, {}},
    {"upload_with_a_value", {"--upload=1", "/srv", "8080"}, EServeCommand::kUsageError, {}},
    {"private", {"--private", "/srv", "8080"}, EServeCommand::kServe, kSrv8080Fresh},
    {"private_with_a_key",
     {"--private=" + kKey, "/srv", "8080"},
     EServeCommand::kServe,
     kSrv8080Keyed},
    {"private_key_in_capitals_lower_cased",
     {"--private=ABCDEFGHIJKLMnopqrstuvwxyz", "/srv", "8080"},
     EServeCommand::kServe,
     kSrv8080Keyed},
    {"private_key_of_digits_2_to_7",
     {"--private=234567234567234567234567ab", "/srv", "8080"},
     EServeCommand::kServe,
     {.strRoot = "/srv",
      .nPort = 8080,
      .bPrivate = true,
      .strPrivateKey = "234567234567234567234567ab"}},
    {"private_among_the_others",
     {"--list", "--private=" + kKey, "--preview", "--concurrent", "/srv", "8080", "home.htm"},
     EServeCommand::kServe,
     {.strRoot = "/srv",
      .nPort = 8080,
      .strDefaultPage = "home.htm",
      .bListFolders = true,
      .bPreview = true,
      .bConcurrent = true,
      .bPrivate = true,
      .strPrivateKey = kKey}},
    {"private_last_given_counts_fresh",
     {"--private=" + kKey, "--private", "/srv", "8080"},
     EServeCommand::kServe,
     kSrv8080Fresh},
    {"private_last_given_counts_key",
     {"--private", "--private=" + kKey, "/srv", "8080"},
     EServeCommand::kServe,
     kSrv8080Keyed},
    {"private_key_too_short",
     {"--private=abcdefghijklmnopqrstuvwxy", "/srv", "8080"},
     EServeCommand::kBadPrivateKey,
     {}},
    {"private_key_too_long",
     {"--private=" + kKey + "a", "/srv", "8080"},
     EServeCommand::kBadPrivateKey,
     {}},
    {"private_key_with_a_1",
     {"--private=abcdefghijklmnopqrstuvwxy1", "/srv", "8080"},
     EServeCommand::kBadPrivateKey,
     {}},
    {"private_key_with_an_8",
     {"--private=abcdefghijklmnopqrstuvwxy8", "/srv", "8080"},
     EServeCommand::kBadPrivateKey,
     {}},
    {"private_key_empty", {"--private=", "/srv", "8080"}, EServeCommand::kBadPrivateKey, {}},
    {"private_key_with_a_slash",
     {"--private=abcdefghijkl/nopqrstuvwxyz", "/srv", "8080"},
     EServeCommand::kBadPrivateKey,
     {}},
    {"private_misspelt", {"--privat", "/srv", "8080"}, EServeCommand::kUsageError, {}},
    {"private_joined_to_more", {"--privately", "/srv", "8080"}, EServeCommand::kUsageError, {}},
    {"private_after_root", {"/srv", "8080", "--private"}, EServeCommand::kUsageError, {}},
    {"private_key_as_the_next_argument",
     {"--private", kKey, "/srv", "8080"},
     EServeCommand::kUsageError,
     {}},
    {"root_after_end_of_options_may_look_like_an_option",
     {"--", "--list", "8080", "-page.htm"},
     EServeCommand::kServe,
     {.strRoot = "--list", .nPort = 8080, .strDefaultPage = "-page.htm"}},
    {"lone_dash_is_a_root", {"-", "8080"}, EServeCommand::kServe, {.strRoot = "-", .nPort = 8080}},
    {"help_after_an_option", {"--list", "--help"}, EServeCommand::kHelp, {}},
    {"version", {"--version"}, EServeCommand::kVersion, {}},
    {"unknown_option", {"--lsit", "/srv", "8080"}, EServeCommand::kUsageError, {}},
    {"short_option", {"-l", "/srv", "8080"}, EServeCommand::kUsageError, {}},
    {"option_after_root", {"/srv", "8080", "--list"}, EServeCommand::kUsageError, {}},
    {"option_between_root_and_port", {"/srv", "--list", "8080"}, EServeCommand::kUsageError, {}},
    {"nothing", {}, EServeCommand::kUsageError, {}},
    {"no_port", {"--list", "/srv"}, EServeCommand::kUsageError, {}},
    {"too_many", {"/srv", "8080", "a.htm", "b.htm"}, EServeCommand::kUsageError, {}},
    {"port_too_large", {"/srv", "65536"}, EServeCommand::kUsageError, {}},
    {"port_not_a_number", {"/srv", "80x"}, EServeCommand::kUsageError, {}},
    {"negative_port", {"--", "/srv", "-1"}, EServeCommand::kUsageError, {}},
};

class ServeArguments : public ::testing::TestWithParam<SArgumentsRow> {};

TEST_P(ServeArguments, ReadsTheCommandLine) {
    const SArgumentsRow& row = GetParam();
    // Anything but kServe leaves the settings alone.
    const SServeSettings kUntouched{.strRoot = "unset", .nPort = 1, .strDefaultPage = "unset"};
    SServeSettings settings = kUntouched;
    EXPECT_EQ(ParseServeArguments(row.arguments, settings), row.eCommand);
    const SServeSettings& expected =
        row.eCommand == EServeCommand::kServe ? row.settings : kUntouched;
    EXPECT_EQ(settings.strRoot, expected.strRoot);
    EXPECT_EQ(settings.nPort, expected.nPort);
    EXPECT_EQ(settings.strDefaultPage, expected.strDefaultPage);
    EXPECT_EQ(settings.bListFolders, expected.bListFolders);
    EXPECT_EQ(settings.bPreview, expected.bPreview);
    EXPECT_EQ(settings.bConcurrent, expected.bConcurrent);
    EXPECT_EQ(settings.bUpload, expected.bUpload);
    EXPECT_EQ(settings.bPrivate, expected.bPrivate);
    EXPECT_EQ(settings.strPrivateKey, expected.strPrivateKey);
}

INSTANTIATE_TEST_SUITE_P(Rows, ServeArguments, ::testing::ValuesIn(kArgumentsRows),
                         [](const auto& info) { return std::string(info.param.pszName); });

}  // namespace
