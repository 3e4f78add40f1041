// The screens arrive with the screens work.
