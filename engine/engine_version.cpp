// The engine's version text, for reports and the command-line client.
namespace vestrel {
const char* engine_version() { return "0.1.0"; }
} // namespace vestrel
