// The print layout and print job arrive with the printing work.
