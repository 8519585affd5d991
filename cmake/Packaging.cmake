# The Debian package: `cpack -G DEB` in a Release build (scripts/build-package.sh).
# Depends are read from the programs by dpkg-shlibdeps (scripts/build-package.sh
# passes them in), so the package installs on a fresh Debian 12 with
# `apt install ./file.deb`; the platform plugins Qt loads at run time are no
# linked library, so they are named here. The Calc bridge plugin is left out of
# that reading: its libraries come with LibreOffice Calc, which is recommended.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME cellfeedwizard)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orvane")
set(CPACK_PACKAGE_CONTACT "CellfeedWizard maintainers <maintainers@users.noreply.c-seed-91b47dd2.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "collect answer sheets from an optical mark reader into a spreadsheet")
set(CPACK_PACKAGE_DESCRIPTION
  "CellfeedWizard receives answer sheets from an optical mark-reading scanner
on a serial line and writes one row per sheet into a workbook. It creates,
opens and saves workbooks, remembers recent ones, finds the scanner's port
by itself, runs the scanner's calibration and ends cleanly when the scanner
is unplugged. It carries its own spreadsheet server for .xls workbooks, so
no spreadsheet application is needed; with LibreOffice Calc installed it
also drives Calc live, so rows appear in Calc's own window, and workbooks
in the .xlsx and .ods formats open as well.
.
The package holds the program under two names, OrvaneCellfeedWizard (the
Orvane branding) and CellfeedWizard (the generic branding), with a desktop
entry for each, and two tools: cellfeed-machine-simulator plays the scanner
on a pseudo-terminal for demonstrations and training, cellfeed-xlsdump prints
a workbook's cells.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# The Calc bridge is a plugin the program loads only when a workbook goes to
# Calc; the program itself starts without LibreOffice.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libreoffice-calc")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
