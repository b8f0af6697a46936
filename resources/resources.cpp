// The library's content is its Qt resources; this file only gives the library a source of its own.
namespace VorlakResources
{
int libraryMarker = 0;
} // namespace VorlakResources
