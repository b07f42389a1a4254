# The Debian package of the Linux build: `cmake --build BUILD --target package` makes
# tessaline-tally-connector_VERSION_amd64.deb with what `cmake --install` puts under /usr (the
# binary, the systemd user unit, the icons, the manual page) and the files Debian asks of every
# package (copyright, changelog). dpkg-shlibdeps works out the libraries it depends on.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessaline-tally-connector)
set(CPACK_PACKAGE_VENDOR Tessaline)
set(CPACK_PACKAGE_CONTACT "Tessaline <support@tessaline.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "links TallyPrime with Tessaline")
# Lines of at most 80 characters, as Debian asks.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
       "A background agent that takes sync jobs from Tessaline, runs them against"
       "the XML server of TallyPrime and reports the answers. Pair it once with"
       "--pair, then let systemd run it for the user:"
       "systemctl --user enable --now tessaline-tally-connector.service")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
