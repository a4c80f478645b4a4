// Title font
Name = "Sylfaen";
Styles[0].Size = 64;
Styles[0].Bold = 1;
Styles[0].Charsets = array("64font.css", "64font_ext.css");
Styles[1] = Styles[0];
Styles[1].Size = 38;
ColorKey = array(255, 0, 255);
