#pragma once
// Resolves the host name of info.Record to its first IPv4 address
// (getaddrinfo, AF_INET, SOCK_STREAM, IPPROTO_TCP; a failing call is tried
// once more at once). On success stores the address (host order), port 28252
// and the dotted text into info and returns true. On failure returns false
// and sets message to the text for the getaddrinfo error ("Unable to resolve
// host name. ..."), or leaves it empty for an error without a text.
//
// Blocks for as long as the system resolver takes; callable from any thread
// (it touches only its arguments).
#include "net/SANetHostInfo.h"

#include <string>

bool SANetHostLookupByName(SANetHostInfo& info, std::string& message);

// The message text for a getaddrinfo error code (EAI_*); empty when the code
// has none.
std::string SANetHostLookupErrorText(int error);
