#include "pdf/engine/security_handler.h"

#include <nettle/aes.h>
#include <nettle/arcfour.h>
#include <nettle/cbc.h>
#include <nettle/md5.h>
#include <nettle/nettle-meta.h>
#include <nettle/sha2.h>

#include <algorithm>
#include <cstring>

#include "pdf/engine/pdf_objects.h"

namespace ferretta::pdf {
namespace {

using Bytes = std::vector<std::uint8_t>;

// §7.6.4.3.2, Algorithm 2 step (a): the 32 bytes a password is padded with.
constexpr std::array<std::uint8_t, 32> passwordPadding = {
    0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E, 0x56, 0xFF, 0xFA, 0x01, 0x08,
    0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68, 0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};

const std::uint8_t* bytesOf(std::string_view s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}

class Md5 {
  public:
    Md5() { md5_init(&m_ctx); }
    Md5& add(const std::uint8_t* data, std::size_t size) {
        md5_update(&m_ctx, size, data);
        return *this;
    }
    Md5& add(std::string_view s) { return add(bytesOf(s), s.size()); }
    std::array<std::uint8_t, MD5_DIGEST_SIZE> digest() {
        std::array<std::uint8_t, MD5_DIGEST_SIZE> out{};
        md5_digest(&m_ctx, out.size(), out.data());
        return out;
    }

  private:
    md5_ctx m_ctx{};
};

void rc4(const std::uint8_t* key, std::size_t keySize, std::uint8_t* data, std::size_t size) {
    arcfour_ctx ctx{};
    arcfour_set_key(&ctx, keySize, key);
    arcfour_crypt(&ctx, size, data, data);
}

// Algorithm 2.B step (c): the hash the remainder modulo 3 picks.
const nettle_hash* const shaOfRemainder[] = {&nettle_sha256, &nettle_sha384, &nettle_sha512};

std::array<std::uint8_t, 32> sha256(std::string_view data) {
    sha256_ctx ctx{};
    sha256_init(&ctx);
    sha256_update(&ctx, data.size(), bytesOf(data));
    std::array<std::uint8_t, 32> out{};
    sha256_digest(&ctx, out.size(), out.data());
    return out;
}

// AES-CBC decryption of whole blocks in place; `key` is 16 or 32 bytes.
void aesCbcDecrypt(const std::uint8_t* key, std::size_t keySize, std::uint8_t* iv,
                   std::uint8_t* data, std::size_t size) {
    if (keySize == 32) {
        aes256_ctx ctx{};
        aes256_set_decrypt_key(&ctx, key);
        cbc_decrypt(&ctx, reinterpret_cast<nettle_cipher_func*>(aes256_decrypt), AES_BLOCK_SIZE, iv,
                    size, data, data);
    } else {
        aes128_ctx ctx{};
        aes128_set_decrypt_key(&ctx, key);
        cbc_decrypt(&ctx, reinterpret_cast<nettle_cipher_func*>(aes128_decrypt), AES_BLOCK_SIZE, iv,
                    size, data, data);
    }
}

std::string_view stringOf(const PdfValue* value) {
    if (!value || value->kind != PdfValue::Kind::String)
        return {};
    return value->text;
}

std::string nameOf(const PdfValue* value) {
    if (!value || value->kind != PdfValue::Kind::Name || value->text.empty())
        return {};
    return value->text.substr(1);
}

}  // namespace

std::array<std::uint8_t, 32> passwordHashR6(std::string_view password, std::string_view salt,
                                            std::string_view userData) {
    std::string input(password);
    input += salt;
    input += userData;
    std::array<std::uint8_t, 64> k{};
    std::size_t kSize = 32;
    const auto first = sha256(input);
    std::copy(first.begin(), first.end(), k.begin());
    std::string k1;
    std::string e;
    // (a)-(d) at least 64 times, and on until the last byte of E is at most the number of
    // rounds done less 32.
    for (int rounds = 0; rounds < 64 || static_cast<unsigned char>(e.back()) > rounds - 32;
         ++rounds) {
        std::string block(password);
        block.append(reinterpret_cast<const char*>(k.data()), kSize);
        block += userData;
        k1.clear();
        for (int i = 0; i < 64; ++i)
            k1 += block;
        e.resize(k1.size());
        aes128_ctx ctx{};
        aes128_set_encrypt_key(&ctx, k.data());
        std::array<std::uint8_t, 16> iv{};
        std::copy(k.begin() + 16, k.begin() + 32, iv.begin());
        cbc_encrypt(&ctx, reinterpret_cast<nettle_cipher_func*>(aes128_encrypt), AES_BLOCK_SIZE,
                    iv.data(), k1.size(), reinterpret_cast<std::uint8_t*>(e.data()), bytesOf(k1));
        // The first 16 bytes of E as one big-endian number, modulo 3: 256 is 1 modulo 3, so
        // the sum of the bytes gives the same remainder.
        unsigned sum = 0;
        for (int i = 0; i < 16; ++i)
            sum += static_cast<unsigned char>(e[static_cast<std::size_t>(i)]);
        const nettle_hash& hash = *shaOfRemainder[sum % 3];
        std::vector<std::uint8_t> context(hash.context_size);
        hash.init(context.data());
        hash.update(context.data(), e.size(), bytesOf(e));
        kSize = hash.digest_size;
        hash.digest(context.data(), kSize, k.data());
    }
    std::array<std::uint8_t, 32> out{};
    std::copy(k.begin(), k.begin() + 32, out.begin());
    return out;
}

SecurityHandler::Status SecurityHandler::open(const PdfValue& encrypt, std::string_view firstId) {
    if (encrypt.kind != PdfValue::Kind::Dict || nameOf(encrypt.get("/Filter")) != "Standard")
        return Status::Unsupported;
    m_version = static_cast<int>(encrypt.get("/V") ? encrypt.get("/V")->asInt(0) : 0);
    m_revision = static_cast<int>(encrypt.get("/R") ? encrypt.get("/R")->asInt(0) : 0);
    m_filters.clear();
    switch (m_version) {
        case 1:
        case 2: {
            // §7.6.2: RC4 for everything, 40 bits for V 1, /Length bits (40 to 128) for V 2.
            m_streams = m_strings = CryptMethod::Rc4;
            const std::int64_t bits =
                m_version == 1 ? 40
                               : (encrypt.get("/Length") ? encrypt.get("/Length")->asInt(40) : 40);
            if (bits < 40 || bits > 128 || bits % 8 != 0)
                return Status::Unsupported;
            m_keyLength = static_cast<std::size_t>(bits / 8);
            break;
        }
        case 4:
        case 5: {
            // §7.6.5: crypt filters by name; what a file names and does not define, or a method
            // this handler does not know, leaves the file unread.
            const auto streams = methodOf(encrypt, nameOf(encrypt.get("/StmF")));
            const auto strings = methodOf(encrypt, nameOf(encrypt.get("/StrF")));
            if (!streams || !strings)
                return Status::Unsupported;
            m_streams = *streams;
            m_strings = *strings;
            if (const PdfValue* cf = encrypt.get("/CF"); cf && cf->kind == PdfValue::Kind::Dict) {
                for (std::size_t i = 0; i < cf->keys.size(); ++i) {
                    const std::string name = cf->keys[i].substr(1);
                    if (const auto method = methodOf(encrypt, name))
                        m_filters.push_back({name, *method});
                }
            }
            m_keyLength = m_version == 5 ? 32 : 16;
            break;
        }
        default:
            return Status::Unsupported;
    }
    bool opened = false;
    if (m_revision >= 2 && m_revision <= 4 && m_version <= 4) {
        opened = openR2to4(encrypt, firstId);
    } else if ((m_revision == 5 || m_revision == 6) && m_version == 5) {
        opened = openR5or6(encrypt);
    } else {
        return Status::Unsupported;
    }
    return opened ? Status::Opened : Status::NeedsPassword;
}

std::optional<CryptMethod> SecurityHandler::methodOf(const PdfValue& encrypt,
                                                     std::string_view name) const {
    if (name.empty() || name == "Identity")
        return CryptMethod::Identity;
    const PdfValue* cf = encrypt.get("/CF");
    const PdfValue* filter =
        cf && cf->kind == PdfValue::Kind::Dict ? cf->get("/" + std::string(name)) : nullptr;
    if (!filter || filter->kind != PdfValue::Kind::Dict)
        return std::nullopt;
    const std::string method = nameOf(filter->get("/CFM"));
    if (method.empty() || method == "None")
        return CryptMethod::Identity;
    if (method == "V2")
        return CryptMethod::Rc4;
    if (method == "AESV2")
        return CryptMethod::AesV2;
    if (method == "AESV3")
        return CryptMethod::AesV3;
    return std::nullopt;
}

// §7.6.4.3.2 (Algorithm 2) for the key, §7.6.4.4 (Algorithms 4 to 7) for the passwords.
bool SecurityHandler::openR2to4(const PdfValue& encrypt, std::string_view firstId) {
    const std::string_view owner = stringOf(encrypt.get("/O"));
    const std::string_view user = stringOf(encrypt.get("/U"));
    if (owner.size() < 32 || user.size() < 16)
        return false;
    const std::int64_t p = encrypt.get("/P") ? encrypt.get("/P")->asInt(0) : 0;
    const auto permissions = static_cast<std::uint32_t>(p);
    const std::array<std::uint8_t, 4> pBytes = {
        static_cast<std::uint8_t>(permissions), static_cast<std::uint8_t>(permissions >> 8),
        static_cast<std::uint8_t>(permissions >> 16), static_cast<std::uint8_t>(permissions >> 24)};
    const PdfValue* metadata = encrypt.get("/EncryptMetadata");
    const bool skipMetadata = m_revision >= 4 && metadata && metadata->text == "false";
    if (m_revision == 2)
        m_keyLength = 5;

    // The file key for a padded password (Algorithm 2), checked against /U (Algorithms 4, 5).
    auto tryUserPassword = [&](const std::uint8_t* padded) {
        Md5 md5;
        md5.add(padded, 32).add(owner.substr(0, 32)).add(pBytes.data(), 4).add(firstId);
        if (skipMetadata) {
            const std::array<std::uint8_t, 4> ones = {0xFF, 0xFF, 0xFF, 0xFF};
            md5.add(ones.data(), ones.size());
        }
        auto hash = md5.digest();
        if (m_revision >= 3) {
            for (int i = 0; i < 50; ++i)
                hash = Md5().add(hash.data(), m_keyLength).digest();
        }
        Bytes key(hash.begin(), hash.begin() + static_cast<std::ptrdiff_t>(m_keyLength));
        if (m_revision == 2) {
            std::array<std::uint8_t, 32> check = passwordPadding;
            rc4(key.data(), key.size(), check.data(), check.size());
            if (user.size() < 32 || std::memcmp(check.data(), user.data(), 32) != 0)
                return false;
        } else {
            auto check =
                Md5().add(passwordPadding.data(), passwordPadding.size()).add(firstId).digest();
            Bytes round(key.size());
            for (int i = 0; i < 20; ++i) {
                for (std::size_t k = 0; k < key.size(); ++k)
                    round[k] = static_cast<std::uint8_t>(key[k] ^ i);
                rc4(round.data(), round.size(), check.data(), check.size());
            }
            if (std::memcmp(check.data(), user.data(), 16) != 0)
                return false;
        }
        m_fileKey = std::move(key);
        return true;
    };

    if (tryUserPassword(passwordPadding.data()))
        return true;
    // Algorithm 7: the empty owner password gives the RC4 key that turns /O into the padded
    // user password.
    auto ownerHash = Md5().add(passwordPadding.data(), passwordPadding.size()).digest();
    if (m_revision >= 3) {
        for (int i = 0; i < 50; ++i)
            ownerHash = Md5().add(ownerHash.data(), ownerHash.size()).digest();
    }
    std::array<std::uint8_t, 32> padded{};
    std::memcpy(padded.data(), owner.data(), 32);
    if (m_revision == 2) {
        rc4(ownerHash.data(), m_keyLength, padded.data(), padded.size());
    } else {
        Bytes round(m_keyLength);
        for (int i = 19; i >= 0; --i) {
            for (std::size_t k = 0; k < m_keyLength; ++k)
                round[k] = static_cast<std::uint8_t>(ownerHash[k] ^ i);
            rc4(round.data(), round.size(), padded.data(), padded.size());
        }
    }
    return tryUserPassword(padded.data());
}

// §7.6.4.3.3 (Algorithm 2.A): the user password's hash over /U's validation salt, else the
// owner password's over /O's and /U, unlocks /UE or /OE with the hash over the key salt.
bool SecurityHandler::openR5or6(const PdfValue& encrypt) {
    const std::string_view owner = stringOf(encrypt.get("/O"));
    const std::string_view user = stringOf(encrypt.get("/U"));
    const std::string_view ownerKey = stringOf(encrypt.get("/OE"));
    const std::string_view userKey = stringOf(encrypt.get("/UE"));
    if (owner.size() < 48 || user.size() < 48)
        return false;
    auto hash = [&](std::string_view salt, std::string_view userData) {
        if (m_revision == 6)
            return passwordHashR6({}, salt, userData);
        std::string input(salt);  // revision 5: plain SHA-256
        input += userData;
        return sha256(input);
    };
    auto unlock = [&](std::string_view keySalt, std::string_view userData,
                      std::string_view encrypted) {
        if (encrypted.size() < 32)
            return false;
        const auto intermediate = hash(keySalt, userData);
        m_fileKey.assign(bytesOf(encrypted), bytesOf(encrypted) + 32);
        std::array<std::uint8_t, 16> iv{};
        aesCbcDecrypt(intermediate.data(), 32, iv.data(), m_fileKey.data(), 32);
        return true;
    };
    const std::string_view u48 = user.substr(0, 48);
    if (const auto h = hash(user.substr(32, 8), {}); std::memcmp(h.data(), user.data(), 32) == 0)
        return unlock(user.substr(40, 8), {}, userKey);
    if (const auto h = hash(owner.substr(32, 8), u48); std::memcmp(h.data(), owner.data(), 32) == 0)
        return unlock(owner.substr(40, 8), u48, ownerKey);
    return false;
}

// §7.6.2, Algorithm 1: the file key, the object's number (3 bytes) and generation (2 bytes),
// for AES "sAlT", through MD5, at most 16 bytes. AES-256 uses the file key itself (1.A).
Bytes SecurityHandler::objectKey(CryptMethod method, std::int32_t objectNumber,
                                 std::int32_t generation) const {
    if (method == CryptMethod::AesV3)
        return m_fileKey;
    const auto n = static_cast<std::uint32_t>(objectNumber);
    const auto g = static_cast<std::uint32_t>(generation);
    const std::array<std::uint8_t, 9> extra = {static_cast<std::uint8_t>(n),
                                               static_cast<std::uint8_t>(n >> 8),
                                               static_cast<std::uint8_t>(n >> 16),
                                               static_cast<std::uint8_t>(g),
                                               static_cast<std::uint8_t>(g >> 8),
                                               's',
                                               'A',
                                               'l',
                                               'T'};
    Md5 md5;
    md5.add(m_fileKey.data(), m_fileKey.size());
    md5.add(extra.data(), method == CryptMethod::AesV2 ? 9 : 5);
    const auto hash = md5.digest();
    const std::size_t size = std::min<std::size_t>(m_fileKey.size() + 5, 16);
    return Bytes(hash.begin(), hash.begin() + static_cast<std::ptrdiff_t>(size));
}

void SecurityHandler::decrypt(CryptMethod method, std::int32_t objectNumber,
                              std::int32_t generation, std::string& bytes) const {
    if (method == CryptMethod::Identity || m_fileKey.empty())
        return;
    Bytes key = objectKey(method, objectNumber, generation);
    auto* data = reinterpret_cast<std::uint8_t*>(bytes.data());
    if (method == CryptMethod::Rc4) {
        rc4(key.data(), key.size(), data, bytes.size());
        return;
    }
    // AES-CBC: the initialisation vector, then whole blocks with PKCS#5 padding (§7.6.2).
    if (bytes.size() < AES_BLOCK_SIZE) {
        bytes.clear();
        return;
    }
    std::array<std::uint8_t, AES_BLOCK_SIZE> iv{};
    std::memcpy(iv.data(), data, iv.size());
    const std::size_t blocks = (bytes.size() - AES_BLOCK_SIZE) / AES_BLOCK_SIZE * AES_BLOCK_SIZE;
    aesCbcDecrypt(key.data(), key.size(), iv.data(), data + AES_BLOCK_SIZE, blocks);
    bytes.erase(0, AES_BLOCK_SIZE);
    bytes.resize(blocks);
    if (!bytes.empty()) {
        const auto pad = static_cast<unsigned char>(bytes.back());
        if (pad >= 1 && pad <= AES_BLOCK_SIZE && pad <= bytes.size() &&
            std::all_of(bytes.end() - pad, bytes.end(),
                        [pad](char c) { return static_cast<unsigned char>(c) == pad; })) {
            bytes.resize(bytes.size() - pad);
        }
    }
}

void SecurityHandler::decryptString(std::int32_t objectNumber, std::int32_t generation,
                                    std::string& bytes) const {
    decrypt(m_strings, objectNumber, generation, bytes);
}

void SecurityHandler::decryptStream(std::int32_t objectNumber, std::int32_t generation,
                                    std::string& data, std::vector<Filter>& filters) const {
    CryptMethod method = m_streams;
    if (!filters.empty() && (filters.front().name == "/Crypt" || filters.front().name == "Crypt")) {
        const std::string& name = filters.front().params.cryptFilter;
        method = CryptMethod::Identity;
        for (const CryptFilter& filter : m_filters) {
            if (filter.name == name)
                method = filter.method;
        }
        filters.erase(filters.begin());
    }
    decrypt(method, objectNumber, generation, data);
}

std::string SecurityHandler::describe() const {
    auto name = [](CryptMethod m) {
        switch (m) {
            case CryptMethod::Identity:
                return "Identity";
            case CryptMethod::Rc4:
                return "RC4";
            case CryptMethod::AesV2:
                return "AESV2";
            case CryptMethod::AesV3:
                return "AESV3";
        }
        return "?";
    };
    return "V" + std::to_string(m_version) + " R" + std::to_string(m_revision) + " key " +
           std::to_string(m_keyLength * 8) + " bits, streams " + name(m_streams) + ", strings " +
           name(m_strings);
}

}  // namespace ferretta::pdf
