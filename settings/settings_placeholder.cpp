// The settings layer is filled in by the settings file work.
namespace settings {
} // namespace settings
