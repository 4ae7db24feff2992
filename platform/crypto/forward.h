#pragma once
// Forward declarations of the classes in platform/crypto/:
// Hashes and signature checks.

class THashingStream;

namespace platform {
class Crypto;
class Sha256;
} // namespace platform
