# Writes a C++ source that returns the PEM text of ANCHORS as the build's trust anchors.
file(READ ${ANCHORS} pem)
file(WRITE ${OUTPUT}.tmp
"#include \"backends/posix/trust/cms_signature.h\"\n\n"
"namespace brivane::platform::posix {\n\n"
"std::string_view embeddedTrustAnchorsPem() {\n"
"    static constexpr std::string_view pem = R\"PEM(${pem})PEM\";\n"
"    return pem;\n"
"}\n\n"
"} // namespace brivane::platform::posix\n")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
