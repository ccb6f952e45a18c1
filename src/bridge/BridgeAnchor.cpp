// Keeps a platform library non-empty while its folder has no sources yet.
namespace brelvox::bridge { int kBridgeLibraryAnchor = 0; }
