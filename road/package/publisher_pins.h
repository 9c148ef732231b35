// What the service trusts a package by: the product it must belong to and the publishers whose
// signature it must carry. A package of another product, or one signed by anyone else, is
// refused however valid its signature is: anyone can buy a code-signing certificate.
#pragma once

namespace road {

// The product's UpgradeCode, shared by every package of every version (sample/msi/product.wxs).
// GUIDs compare without regard to letter case: wixl writes this one in lower case.
inline constexpr wchar_t kProductUpgradeCode[] = L"{77A23D80-ED3F-4739-86AE-F6C16C6E4AC1}";

// A publisher is pinned by the SHA-1 thumbprint of its signing certificate: 40 hexadecimal
// digits, as `scripts/sign --verify`, signtool and the certificate's Details tab show them.
// The thumbprint names one certificate exactly. An issuer and a subject do not: the authority
// that issued ours issues another with the same subject to whoever passes its checks under our
// name, and the pin would take that one too. The price is that a renewed certificate is a new
// pin, hence the two places below.
//
// The release's signing certificates. A release pins the certificate its packages are signed
// with; the last release before a key rollover pins the outgoing and the incoming one, so that
// the services it installed accept the next release, signed with the new key. An empty place
// pins nothing. This sample product has no release certificate: its builds pin only the test
// publisher below. A build that pins nothing would refuse every package: configured without
// the test publisher, CMake reads this initializer and stops unless a place holds 40
// hexadecimal digits (road/package/test_publisher.cmake), so keep it on one declaration.
inline constexpr const wchar_t* kReleasePublisherThumbprints[2] = {L"", L""};

// The test build's publisher: a throwaway certificate made once in each build folder
// (road/package/test_publisher.cmake), whose thumbprint CMake hands over as the definition
// CORVANTA_TEST_PUBLISHER_THUMBPRINT, so that the tests can sign packages the service takes.
// Its root is trusted only in the test machines' Root stores. Only the windows preset turns
// CORVANTA_TEST_PUBLISHER on; a release, configured without it, leaves this place empty.
#ifdef CORVANTA_TEST_PUBLISHER_THUMBPRINT
inline constexpr wchar_t kTestPublisherThumbprint[] = CORVANTA_TEST_PUBLISHER_THUMBPRINT;
#else
inline constexpr wchar_t kTestPublisherThumbprint[] = L"";
#endif

}  // namespace road
