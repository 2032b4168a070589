#pragma once
// Whether a text names a host the update query can reach (it resolves names and IPv4
// addresses; the port is fixed). Portable.
#include <string>

// A DNS name (dot-separated labels of 1 to 63 letters, digits and inner hyphens, 253
// characters at most) or an IPv4 address in four decimal parts.
bool isHostNameOrAddress(const std::string& text);
