// placeholder until the frame driver lands
