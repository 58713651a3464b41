console.log("site");
