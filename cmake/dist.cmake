# build/.../dist/: the two files a vendor ships, and their SHA-256 sums.
ruduvizide_package(ruduvizide_sample
  STUB ruduvizide-stub FOLDER ${rdz_sample} OUTPUT ${rdz_dist}/ruduvizide.exe)
add_custom_command(OUTPUT ${rdz_dist}/ravozi-rt-installer.exe
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:ravozi-rt-installer>
          ${rdz_dist}/ravozi-rt-installer.exe
  DEPENDS ravozi-rt-installer
  COMMENT "Copying the installer to dist/")
# Relative names, so that `sha256sum -c SHA256SUMS` works in dist/ itself.
add_custom_command(OUTPUT ${rdz_dist}/SHA256SUMS
  COMMAND ${CMAKE_COMMAND} -E sha256sum ravozi-rt-installer.exe ruduvizide.exe
          > SHA256SUMS
  DEPENDS ${rdz_dist}/ravozi-rt-installer.exe ${rdz_dist}/ruduvizide.exe
  WORKING_DIRECTORY ${rdz_dist}
  COMMENT "Listing the SHA-256 sums of dist/")
add_custom_target(dist ALL DEPENDS ${rdz_dist}/SHA256SUMS)
add_dependencies(dist ruduvizide_sample)
