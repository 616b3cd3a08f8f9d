# The emulated processors the i386 build runs under (qemu-i386-static
# -cpu), and for each the kernel variant the detection must choose there
# and the variants whose instructions it executes. Together they cover
# every combination of SSE and 3DNow!, and anything a variant runs outside
# its instruction set traps.
#
#   name           -cpu               chooses  runs
set(ZEVERIVE_PROCESSOR_MODELS
    "pentium2       pentium2           0        x87"
    "pentium3       pentium3           2        x87,sse"
    "athlon_no_sse  athlon,-sse,-sse2  1        x87,3dnow"
    "phenom         phenom             2        x87,3dnow,sse")

# Sets model_name, model_cpu, model_variant and model_runs in the caller
# for one entry of the list.
macro(zeverive_processor_model entry)
  string(REGEX REPLACE " +" ";" _model_fields "${entry}")
  list(GET _model_fields 0 model_name)
  list(GET _model_fields 1 model_cpu)
  list(GET _model_fields 2 model_variant)
  list(GET _model_fields 3 model_runs)
endmacro()
