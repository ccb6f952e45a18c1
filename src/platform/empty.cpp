// Keeps a platform library non-empty while its folder has no sources yet.
namespace brelvox::platform { int kPlatformLibraryAnchor = 0; }
