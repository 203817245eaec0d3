# The compile options of the fractal code for a target whose pointers are pointer_size bytes on the
# given processor, into out. Every double operation there must round to a double as it happens.
function(vorlux_fractal_flags out pointer_size processor)
  # A fused multiply-add rounds once where the plain loop rounds twice. -fno-math-errno only lets
  # sqrt compile to the instruction without an errno check beside it; the values are the same.
  set(flags -ffp-contract=off -fno-math-errno)
  # x87 arithmetic keeps 80-bit intermediates and rounds differently; 32-bit x86 builds do their
  # doubles in SSE2 registers like every 64-bit build (fractal/exact_arithmetic.h checks).
  if(pointer_size EQUAL 4 AND processor MATCHES "^(i.86|x86|x86_64|AMD64)$")
    list(APPEND flags -msse2 -mfpmath=sse)
  endif()
  set(${out} ${flags} PARENT_SCOPE)
endfunction()
