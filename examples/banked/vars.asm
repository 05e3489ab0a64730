; vars.asm - the variables, placed in RAM: nothing but reserved space.
product::       .dws 2          ; the two products
calls::         .dbs 1          ; how many were made
entries::       .dws 2          ; the entry points of the two banks
scratch:        .dbs 4          ; not public: only the symbol file has it
