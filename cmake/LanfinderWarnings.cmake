# Warnings on for our own targets only; Qt's headers come in as system headers.
function(lanfinder_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
endfunction()
