// The bytes of the plug-in module that PluginCopy loads (the build's
// zeverive-copy.so), carried inside the program or filter that uses them,
// so there is no file to find or to keep in step.

asm(".section .rodata.zeverive_plugin_module,\"a\"\n"
    ".balign 64\n"
    ".globl zeverive_plugin_module_start\n"
    ".hidden zeverive_plugin_module_start\n"
    "zeverive_plugin_module_start:\n"
    ".incbin \"" ZEVERIVE_COPY_MODULE "\"\n"
    ".globl zeverive_plugin_module_end\n"
    ".hidden zeverive_plugin_module_end\n"
    "zeverive_plugin_module_end:\n"
    ".previous\n");
