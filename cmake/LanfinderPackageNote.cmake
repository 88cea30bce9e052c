# Every executable carries its version record as an ELF package-metadata note
# (section .note.package, owner "FDO"), readable with `readelf -n`.
function(lanfinder_package_note target)
  # Filled in with the version-information work.
endfunction()
