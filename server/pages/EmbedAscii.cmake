# Writes a C++ source defining a file's bytes as `extern const std::string_view`,
# run at build time:
#   cmake -DINPUT=a.js -DOUTPUT=a.cpp -DHEADER=A.h -DNAME=kA -P EmbedAscii.cmake
# The bytes go out as an array, so no text in the file can end a string early,
# and the file must be ASCII: what embeds it writes it into pages unconverted.
foreach(var INPUT OUTPUT HEADER NAME)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "EmbedAscii.cmake: ${var} not given")
  endif()
endforeach()

file(READ "${INPUT}" hex HEX)
if(hex STREQUAL "")
  message(FATAL_ERROR "${INPUT}: empty")
endif()
string(REGEX REPLACE "(..)" "0x\\1," bytes "${hex}")
if(bytes MATCHES "0x[89a-f]")
  message(FATAL_ERROR "${INPUT}: not ASCII only")
endif()
# Sixteen bytes a line keeps the generated file readable in an error message.
string(REPEAT "0x..," 16 line)
string(REGEX REPLACE "(${line})" "\\1\n    " bytes "${bytes}")

get_filename_component(input_name "${INPUT}" NAME)
# Written even when unchanged: an output older than its input would run the
# step again at every build.
file(WRITE "${OUTPUT}"
"// Generated from ${input_name} by EmbedAscii.cmake at build time: edit that file.
#include \"${HEADER}\"

namespace {
constexpr char kBytes[] = {
    ${bytes}
};
}  // namespace

extern const std::string_view ${NAME}(kBytes, sizeof kBytes);
")
