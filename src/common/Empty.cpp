// Placeholder unit for a module that has no sources of its own yet.
namespace kevra {
inline void emptyModuleAnchor()
{
}
}   // namespace kevra
