#pragma once
// The standard security handler (ISO 32000-2 §7.6.4): opens a file encrypted for an empty
// user password — what "protected against copying and printing" PDFs are — and decrypts its
// strings and streams. Ciphers and hashes are Nettle's.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/engine/filters.h"

namespace ferretta::pdf {

struct PdfValue;

// How one crypt filter (§7.6.5) decrypts.
enum class CryptMethod : std::uint8_t { Identity, Rc4, AesV2, AesV3 };

class SecurityHandler {
  public:
    enum class Status : std::uint8_t {
        Opened,         // the empty password opened the file
        NeedsPassword,  // neither password is empty
        Unsupported,    // not the standard handler, or a revision or method it does not know
    };

    // Reads the encryption dictionary (§7.6.2, Table 20; §7.6.4.2, Table 21) and tries the
    // empty user password, then the empty owner password (§7.6.4.4: Algorithms 6 and 7 for
    // revisions 2 to 4, 11 and 12 for revisions 5 and 6). `firstId` is the first string of
    // the trailer's /ID (revisions 2 to 4 mix it into the key). Answers the status; the
    // handler decrypts only when it is Opened. Never throws (but for lack of memory).
    Status open(const PdfValue& encrypt, std::string_view firstId);

    // Decrypts a string of an object in place (§7.6.2: Algorithm 1, or 1.A for AES-256) with
    // the string filter (/StrF). Strings of an object kept in an object stream are not
    // encrypted on their own; callers do not pass them.
    void decryptString(std::int32_t objectNumber, std::int32_t generation,
                       std::string& bytes) const;

    // Decrypts the data of a stream object in place with the stream filter (/StmF), or with
    // the crypt filter a leading /Crypt filter of `filters` names (/DecodeParms /Name, §7.4.10;
    // /Identity when it names none), which is then taken out of `filters`. AES data is its
    // 16-byte initialisation vector and whole blocks; a damaged tail (a partial block, a
    // padding that is no padding) is kept as it decrypts rather than dropped.
    void decryptStream(std::int32_t objectNumber, std::int32_t generation, std::string& data,
                       std::vector<Filter>& filters) const;

    // For the debug log: "R4 AESV2/AESV2", ...
    std::string describe() const;

  private:
    struct CryptFilter {
        std::string name;
        CryptMethod method = CryptMethod::Identity;
    };

    bool openR2to4(const PdfValue& encrypt, std::string_view firstId);
    bool openR5or6(const PdfValue& encrypt);
    std::optional<CryptMethod> methodOf(const PdfValue& encrypt, std::string_view name) const;
    std::vector<std::uint8_t> objectKey(CryptMethod method, std::int32_t objectNumber,
                                        std::int32_t generation) const;
    void decrypt(CryptMethod method, std::int32_t objectNumber, std::int32_t generation,
                 std::string& bytes) const;

    int m_revision = 0;
    int m_version = 0;
    std::size_t m_keyLength = 5;  // bytes
    std::vector<std::uint8_t> m_fileKey;
    CryptMethod m_streams = CryptMethod::Identity;
    CryptMethod m_strings = CryptMethod::Identity;
    std::vector<CryptFilter> m_filters;  // the /CF entries, for a stream's own /Crypt filter
};

// Revision 6's hash of a password (§7.6.4.3.4, Algorithm 2.B): SHA-256 of password, salt and
// user data, then at least 64 rounds of AES-128-CBC and SHA-256/384/512. 32 bytes.
std::array<std::uint8_t, 32> passwordHashR6(std::string_view password, std::string_view salt,
                                            std::string_view userData);

}  // namespace ferretta::pdf
