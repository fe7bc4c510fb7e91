#include "ErrorPage.h"

const std::string_view kErrorPage =
    "\n<HTML><HEAD><TITLE>HTTP Error</TITLE></HEAD><BODY><H1>Error 404: Not "
    "Found</H1></BODY></HTML>";
