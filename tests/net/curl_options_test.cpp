// An option the installed libcurl refuses is reported with its name and
// curl's reason, never dropped.
#include "net/curl_transfer.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

TEST(CurlOptions, ARefusedOptionThrowsWithItsNameAndCurlsReason) {
    const net::EasyHandle easy = net::NewEasy();
    try {
        net::SetOption(easy.get(), CURLOPT_SSLVERSION, 999L);
        FAIL() << "no error for a TLS version curl does not know";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), std::string("Cannot set CURLOPT_SSLVERSION: ") +
                                                 curl_easy_strerror(CURLE_BAD_FUNCTION_ARGUMENT));
    }
    EXPECT_NO_THROW(
        net::SetOption(easy.get(), CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2)));
}
