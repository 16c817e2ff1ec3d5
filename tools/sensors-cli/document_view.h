#pragma once

#include "ipc/frame_codec.h"

#include <optional>
#include <string>
#include <string_view>

namespace brivane::cli {

// A person's view of a reply document: tables of temperatures, fans, power and processes.
// nullopt when the document does not decode as the request's document type, so the caller
// can fall back to the bytes.
std::optional<std::string> renderDocument(ipc::Selector selector,
                                          const std::optional<std::string>& argument,
                                          std::string_view json);

} // namespace brivane::cli
